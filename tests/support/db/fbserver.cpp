#include "tests/support/db/fbserver.h"

#include "core/error.h"
#include "store/sharedengine.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <ibase.h>
#include <memory>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace palisor::test {
namespace {

constexpr int StartSeconds = 15;
constexpr int PortTries = 5;

int freePort()
{
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool bound = s >= 0 && ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
                       && ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    if (s >= 0)
        ::close(s);
    if (!bound)
        throw Error(QStringLiteral("No free loopback port for the Firebird server"));
    return ntohs(address.sin_port);
}

void copyFile(const QString& from, const QString& to)
{
    if (!QFile::copy(from, to))
        throw Error(QStringLiteral("Cannot copy %1 to %2").arg(from, to));
}

void writeFile(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0 || !file.flush())
        throw Error(QStringLiteral("Cannot write %1").arg(path));
}

QString readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll()).trimmed() : QString();
}

enum class Answer { Ready, NotYet, Stranger };

// Whether the server on the port answers the service manager with this
// instance's user and password: another server there refuses the login.
Answer ask(int port, const QString& user, const QString& password)
{
    const QByteArray name = QStringLiteral("127.0.0.1/%1:service_mgr").arg(port).toLatin1();
    QByteArray spb;
    spb += char(isc_spb_version);
    spb += char(isc_spb_current_version);
    // Whatever the two sides ask of encryption, the question is only
    // whether this instance answers.
    for (const auto& [tag, value] : {std::pair{char(isc_spb_user_name), user.toLatin1()},
                                     std::pair{char(isc_spb_password), password.toLatin1()},
                                     std::pair{char(isc_spb_config), QByteArrayLiteral("WireCrypt = Enabled")}}) {
        spb += tag;
        spb += char(value.size());
        spb += value;
    }
    ISC_STATUS_ARRAY status{};
    isc_svc_handle service = 0;
    if (isc_service_attach(status, 0, name.constData(), &service, short(spb.size()), spb.constData()) == 0) {
        isc_service_detach(status, &service);
        return Answer::Ready;
    }
    return status[1] == isc_login ? Answer::Stranger : Answer::NotYet;
}

}  // namespace

FirebirdServer::FirebirdServer(const QString& wireCrypt) : wireCrypt_(wireCrypt)
{
    if (!dir_.isValid())
        throw Error(QStringLiteral("Cannot make a folder for the Firebird server"));
    root_ = dir_.path() + QStringLiteral("/root");
    password_ = QString::number(QRandomGenerator::system()->generate64(), 36);
    // This process's client library reads its settings once, at its first
    // call, which may be the readiness check below: it must find the
    // configuration the test's embedded databases need, as they would.
    if (qEnvironmentVariableIsEmpty("FIREBIRD"))
        qputenv("FIREBIRD", QFile::encodeName(PrepareEngineRoot()));
    prepareRoot();
    makeSecurityDatabase();
    for (int attempt = 0; attempt < PortTries; ++attempt) {
        port_ = freePort();
        auxPort_ = freePort();
        writeSettings();
        if (start())
            return;
    }
    throw Error(QStringLiteral("Every loopback port tried for the Firebird server was another's"));
}

FirebirdServer::~FirebirdServer() { stop(); }

FirebirdServer& FirebirdServer::shared()
{
    static FirebirdServer server;
    return server;
}

QString FirebirdServer::databaseFolder() const { return dir_.path() + QStringLiteral("/db"); }

QString FirebirdServer::location(const QString& fileName) const
{
    return QStringLiteral("127.0.0.1/%1:%2/%3").arg(port_).arg(databaseFolder(), fileName);
}

void FirebirdServer::prepareRoot()
{
    const QDir system(SystemEngineRoot());
    for (const QString& folder : {root_, root_ + QStringLiteral("/intl"), root_ + QStringLiteral("/lock"), databaseFolder()}) {
        if (!QDir().mkpath(folder))
            throw Error(QStringLiteral("Cannot make %1").arg(folder));
    }
    for (const char* entry : {"firebird.msg", "plugins", "lib", "UDF"}) {
        if (QFileInfo::exists(system.filePath(QLatin1String(entry))))
            QFile::link(system.filePath(QLatin1String(entry)), root_ + QLatin1Char('/') + QLatin1String(entry));
    }
    copyFile(system.filePath(QStringLiteral("plugins.conf")), root_ + QStringLiteral("/plugins.conf"));
    // Through a link the engine does not load the character sets at all.
    copyFile(system.filePath(QStringLiteral("intl/libfbintl.so")), root_ + QStringLiteral("/intl/libfbintl.so"));
    copyFile(system.filePath(QStringLiteral("intl/fbintl.conf")), root_ + QStringLiteral("/intl/fbintl.conf"));
    writeFile(root_ + QStringLiteral("/databases.conf"), QString());
}

void FirebirdServer::makeSecurityDatabase()
{
    const QString isql = QStandardPaths::findExecutable(QStringLiteral("isql-fb"));
    if (isql.isEmpty())
        throw Error(QStringLiteral("isql-fb was not found"));
    port_ = 0;
    writeSettings();
    const QString script = root_ + QStringLiteral("/security.sql");
    writeFile(script, QStringLiteral("CREATE DATABASE '%1/security3.fdb';\n"
                                     "CREATE USER %2 PASSWORD '%3' USING PLUGIN Srp;\n"
                                     "GRANT CREATE DATABASE TO USER %2;\n"
                                     "COMMIT;\n")
                          .arg(root_, user(), password_));
    QProcess run;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("FIREBIRD"), root_);
    environment.insert(QStringLiteral("FIREBIRD_LOCK"), root_ + QStringLiteral("/lock"));
    run.setProcessEnvironment(environment);
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(isql, {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-user"), QStringLiteral("SYSDBA"),
                     QStringLiteral("-i"), script});
    if (!run.waitForFinished(60000) || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0)
        throw Error(QStringLiteral("Cannot make the Firebird server's security database: ")
                    + QString::fromLocal8Bit(run.readAll()));
}

void FirebirdServer::writeSettings()
{
    // The port only here: given on the command line the server would listen
    // on every interface. Events come back on a fixed port of their own, as
    // behind a firewall.
    writeFile(root_ + QStringLiteral("/firebird.conf"),
              QStringLiteral("RemoteServicePort = %1\n"
                             "RemoteBindAddress = 127.0.0.1\n"
                             "ServerMode = Super\n"
                             "DatabaseAccess = Restrict %2\n"
                             "SecurityDatabase = %3/security3.fdb\n"
                             "AuthServer = Srp\n"
                             "UserManager = Srp\n"
                             "WireCrypt = %4\n"
                             "RemoteAuxPort = %5\n")
                  .arg(port_)
                  .arg(databaseFolder(), root_, wireCrypt_)
                  .arg(auxPort_));
}

bool FirebirdServer::start()
{
    const QByteArray program = qgetenv("PALISOR_FIREBIRD_SERVER");
    if (program.isEmpty() || ::access(program.constData(), X_OK) != 0)
        throw Error(QStringLiteral("No Firebird server program at \"%1\" (PALISOR_FIREBIRD_SERVER); "
                                   "scripts/install-deps BUILD-FOLDER unpacks it")
                        .arg(QString::fromLocal8Bit(program)));
    // Everything the child needs is made before the fork.
    std::vector<QByteArray> variables;
    for (char** each = environ; *each; ++each) {
        const QByteArray variable(*each);
        if (!variable.startsWith("FIREBIRD=") && !variable.startsWith("FIREBIRD_LOCK="))
            variables.push_back(variable);
    }
    variables.push_back("FIREBIRD=" + QFile::encodeName(root_));
    variables.push_back("FIREBIRD_LOCK=" + QFile::encodeName(root_ + QStringLiteral("/lock")));
    std::vector<char*> envp;
    for (QByteArray& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    QByteArray programCopy = program;
    char* argv[] = {programCopy.data(), nullptr};
    const QByteArray log = QFile::encodeName(root_ + QStringLiteral("/server.log"));
    const int output = ::open(log.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (output < 0)
        throw Error(QStringLiteral("Cannot write %1").arg(QFile::decodeName(log)));

    QElapsedTimer clock;
    clock.start();
    pid_ = ::fork();
    if (pid_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        ::execve(argv[0], argv, envp.data());
        ::_exit(127);
    }
    ::close(output);
    if (pid_ < 0)
        throw Error(QStringLiteral("Cannot start the Firebird server"));

    while (clock.elapsed() < StartSeconds * 1000) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw Error(QStringLiteral("The Firebird server ended at its start: ") + readFile(QFile::decodeName(log)));
        }
        switch (ask(port_, user(), password_)) {
        case Answer::Ready:
            startMs_ = clock.elapsed();
            return true;
        case Answer::Stranger:
            stop();
            return false;
        case Answer::NotYet:
            QThread::msleep(10);
            break;
        }
    }
    stop();
    throw Error(QStringLiteral("The Firebird server did not answer within %1 s").arg(StartSeconds));
}

void FirebirdServer::kill()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void FirebirdServer::restart()
{
    kill();
    if (!start())
        throw Error(QStringLiteral("Another server took port %1 while the Firebird server was down").arg(port_));
}

void FirebirdServer::stop()
{
    if (pid_ <= 0)
        return;
    // The server sometimes lets a SIGTERM pass after it has served a
    // connection; a second later it gets no choice.
    ::kill(pid_, SIGTERM);
    for (int waited = 0; waited < 100; ++waited) {
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        QThread::msleep(10);
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

}  // namespace palisor::test
