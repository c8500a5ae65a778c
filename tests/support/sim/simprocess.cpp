#include "tests/support/sim/simprocess.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace palisor::test {

namespace {

constexpr int startTimeoutMs = 10000;
constexpr int stopTimeoutMs = 5000;

[[noreturn]] void fail(const QString& message) { throw std::runtime_error(message.toStdString()); }

// Reads the child's first stdout line, waiting at most until the deadline.
QByteArray readFirstLine(int fd, const QElapsedTimer& clock)
{
    QByteArray line;
    while (!line.contains('\n')) {
        const qint64 left = startTimeoutMs - clock.elapsed();
        if (left <= 0)
            break;
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;
        char buffer[256];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        line.append(buffer, n);
    }
    return line.left(line.indexOf('\n'));
}

}  // namespace

SimProcess::~SimProcess() { stop(); }

QString SimProcess::logPath() const { return dir_.filePath("commands.jsonl"); }

quint16 SimProcess::start(const QString& scenario, const QString& password, const QStringList& extraArguments)
{
    if (running())
        fail("SimProcess: the simulator is already running");
    if (!dir_.isValid())
        fail("SimProcess: no temporary folder: " + dir_.errorString());
    const QString buildDir = qEnvironmentVariable("PALISOR_BUILD_DIR");
    if (buildDir.isEmpty())
        fail("SimProcess: PALISOR_BUILD_DIR is not set (run the test through CTest)");
    const QString program = QDir(buildDir).filePath("palisor-sim");

    QStringList arguments{"--port", "0", "--log", logPath()};
    if (!password.isEmpty())
        arguments << "--password" << password;
    if (scenario.trimmed().startsWith('{')) {
        QFile file(dir_.filePath("scenario.json"));
        if (!file.open(QIODevice::WriteOnly) || file.write(scenario.toUtf8()) < 0)
            fail("SimProcess: cannot write " + file.fileName());
        arguments << "--scenario" << file.fileName();
    } else if (!scenario.isEmpty()) {
        arguments << "--scenario" << scenario;
    }
    arguments += extraArguments;

    // Everything the child needs is prepared before fork(): after it, only
    // async-signal-safe calls are allowed.
    QList<QByteArray> argStorage{program.toLocal8Bit()};
    for (const QString& a : arguments)
        argStorage.append(a.toLocal8Bit());
    QList<char*> argv;
    for (QByteArray& a : argStorage)
        argv.append(a.data());
    argv.append(nullptr);
    const QByteArray errorPath = dir_.filePath("stderr.txt").toLocal8Bit();

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0)
        fail("SimProcess: pipe failed");
    const int errorFd = open(errorPath.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0)
        fail("SimProcess: fork failed");
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(127);
        dup2(out[1], STDOUT_FILENO);
        if (errorFd >= 0)
            dup2(errorFd, STDERR_FILENO);
        // The test's own descriptors (Firebird's lock files among them) must
        // not live on in the simulator, or the engine refuses to reopen a
        // database after a disconnect.
        close_range(3, ~0U, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (errorFd >= 0)
        close(errorFd);
    pid_ = pid;
    logOffset_ = 0;

    QElapsedTimer clock;
    clock.start();
    const QByteArray line = readFirstLine(out[0], clock);
    close(out[0]);
    const QByteArray prefix = "palisor-sim listening on ";
    const qsizetype colon = line.lastIndexOf(':');
    bool ok = false;
    const uint port = colon > 0 ? line.mid(colon + 1).toUInt(&ok) : 0;
    if (!line.startsWith(prefix) || !ok || port == 0 || port > 65535) {
        stop();
        QFile errors(QString::fromLocal8Bit(errorPath));
        const QString message = errors.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(errors.readAll()).trimmed()
                                                                  : QString();
        fail("palisor-sim did not start" + (message.isEmpty() ? QString() : ": " + message));
    }
    port_ = static_cast<quint16>(port);
    return port_;
}

void SimProcess::stop()
{
    if (pid_ <= 0)
        return;
    kill(pid_, SIGTERM);
    QElapsedTimer clock;
    clock.start();
    while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (clock.elapsed() > stopTimeoutMs) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            break;
        }
        QThread::msleep(5);
    }
    pid_ = -1;
    port_ = 0;
}

void SimProcess::freeze(bool frozen)
{
    if (pid_ > 0)
        kill(pid_, frozen ? SIGSTOP : SIGCONT);
}

QList<SimCommand> SimProcess::commands() const
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    file.seek(logOffset_);
    QByteArray text = file.readAll();
    text.truncate(text.lastIndexOf('\n') + 1);  // a line still being written is not read
    QList<SimCommand> result;
    for (const QByteArray& line : text.split('\n')) {
        if (line.isEmpty())
            continue;
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        SimCommand c;
        c.seq = o["seq"].toInt();
        c.sourcePort = static_cast<quint16>(o["port"].toInt());
        c.rcon = o["rcon"].toBool();
        c.payload = o["payload"].toString();
        c.password = o["password"].toString();
        c.command = o["command"].toString();
        c.accepted = o["accepted"].toBool();
        c.answered = o["answered"].toBool();
        result.append(c);
    }
    return result;
}

QStringList SimProcess::commandTexts() const
{
    QStringList texts;
    for (const SimCommand& c : commands())
        if (c.rcon)
            texts.append(c.command);
    return texts;
}

void SimProcess::clearLog()
{
    QFile file(logPath());
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray text = file.readAll();
    logOffset_ = text.lastIndexOf('\n') + 1;
}

bool SimProcess::waitForCommands(int count, int timeoutMs) const
{
    QElapsedTimer clock;
    clock.start();
    while (commands().size() < count) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QThread::msleep(5);
    }
    return true;
}

}  // namespace palisor::test
