#include "ctl/database.h"

#include "core/error.h"
#include "core/places.h"
#include "core/startup.h"
#include "ctl/password.h"
#include "ctl/session.h"
#include "store/databaseconf.h"
#include "store/fbattachment.h"
#include "store/firststart.h"
#include "store/sharedengine.h"

#include <CLI/CLI.hpp>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>

namespace palisor::ctl {

namespace {

// Where `database set --password-file -` keeps the password it is given.
const char KeptPasswordFile[] = "database.password";

QString q(const std::string& text) { return QString::fromStdString(text); }

// Whether the server says there is no such database (rather than refusing
// the login or not answering).
bool noDatabase(const QString& said) { return said.contains(QLatin1String("No such file or directory")); }

void keepPassword(const QString& path, const QString& password)
{
    QSaveFile file(path);
    const QByteArray bytes = password.toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)
        || file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
}

QString configuredPassword(const QString& dataFolder, const DatabaseConf& conf)
{
    return ReadDatabasePassword(PasswordFilePath(dataFolder, conf));
}

}  // namespace

QString DatabaseShow(const QString& dataFolder)
{
    const DatabaseConf conf = ReadDatabaseConf(dataFolder);
    QString text = QStringLiteral("location=%1\n").arg(conf.location);
    if (!conf.onServer())
        return text + QStringLiteral("embedded=%1\n").arg(QDir(dataFolder).filePath(QStringLiteral("PALISOR.GDB")));
    return text + QStringLiteral("user=%1\npassword-file=%2\n").arg(conf.user, PasswordFilePath(dataFolder, conf));
}

QString DatabaseSet(const QString& dataFolder, const QStringList& assignments, const QString& passwordFile)
{
    DatabaseConf conf;
    try {
        conf = ReadDatabaseConf(dataFolder);
    } catch (const Error&) {
        // A file that cannot be used is what this command mends.
    }
    for (const QString& assignment : assignments) {
        const qsizetype eq = assignment.indexOf(QLatin1Char('='));
        const QString key = assignment.left(eq);
        if (eq < 0 || (key != QLatin1String("location") && key != QLatin1String("user")))
            throw UsageError(QStringLiteral("\"%1\" is no location=… or user=…").arg(assignment));
        (key == QLatin1String("location") ? conf.location : conf.user) = assignment.mid(eq + 1).trimmed();
    }
    const QString confFile = QDir(dataFolder).filePath(QLatin1String(DatabaseConfName));
    if (!conf.onServer()) {
        WriteDatabaseConf(dataFolder, conf);
        return QStringLiteral("Wrote %1: the database is %2\n").arg(confFile, QDir(dataFolder).filePath(QStringLiteral("PALISOR.GDB")));
    }
    if (conf.user.isEmpty())
        throw UsageError(QStringLiteral("A database server needs user=NAME"));

    QString password;
    QString keptPassword;
    if (passwordFile == QLatin1String("-")) {
        password = ReadPassword(passwordFile);
        keptPassword = QDir(dataFolder).filePath(QLatin1String(KeptPasswordFile));
        conf.passwordFile = QLatin1String(KeptPasswordFile);
    } else if (!passwordFile.isEmpty()) {
        conf.passwordFile = QFileInfo(passwordFile).absoluteFilePath();
        password = configuredPassword(dataFolder, conf);
    } else if (conf.passwordFile.isEmpty()) {
        throw UsageError(QStringLiteral("A database server needs --password-file FILE, or - to give the password"));
    } else {
        password = configuredPassword(dataFolder, conf);
    }
    if (password.isEmpty())
        throw Error(QStringLiteral("An empty database password is refused; nothing was changed."));

    bool missing = false;
    UseEngineRoot();
    try {
        FbAttachment tried(conf.location, conf.user, password);
    } catch (const Error& e) {
        missing = noDatabase(e.message());
        if (!missing)
            throw Error(QStringLiteral("Cannot connect to %1 as %2: %3; nothing was changed.")
                            .arg(conf.location, conf.user, ServerRefusal(conf.location, e.message())));
    }
    if (!keptPassword.isEmpty())
        keepPassword(keptPassword, password);
    WriteDatabaseConf(dataFolder, conf);
    if (missing)
        return QStringLiteral("Wrote %1. There is no database at %2 yet: palisorctl database create makes it.\n")
            .arg(confFile, conf.location);
    return QStringLiteral("Wrote %1. Connected to %2 as %3.\n").arg(confFile, conf.location, conf.user);
}

QString DatabaseCreate(const QString& dataFolder, const QString& schemaFile)
{
    const DatabaseConf conf = ReadDatabaseConf(dataFolder);
    if (!conf.onServer()) {
        PrepareDataFolder(dataFolder);
        const QString file = QDir(dataFolder).filePath(QStringLiteral("PALISOR.GDB"));
        if (!CreateMissingDatabase(dataFolder, schemaFile))
            throw Error(QStringLiteral("%1 holds a database already; nothing was changed.").arg(dataFolder));
        return QStringLiteral("Made %1\n").arg(file);
    }
    const QString password = configuredPassword(dataFolder, conf);
    UseEngineRoot();
    try {
        CreateServerDatabase(conf.location, conf.user, password, schemaFile);
    } catch (const Error& e) {
        throw Error(ServerRefusal(conf.location, e.message()));
    }
    return QStringLiteral("Made %1\n").arg(conf.location);
}

QString DatabaseBackup(const QString& dataFolder, const QString& file)
{
    const DatabaseConf conf = ReadDatabaseConf(dataFolder);
    if (!conf.onServer())
        throw Error(QStringLiteral("The database of %1 is its own PALISOR.GDB, not a server's: its maintenance cycle keeps "
                                   "the copies PALISOR.BKP and PALISOR.GBK beside it; nothing was backed up.")
                        .arg(dataFolder));
    // The server writes the file, so a relative name would be relative to
    // wherever the server runs.
    if (!QDir::isAbsolutePath(file))
        throw UsageError(QStringLiteral("\"%1\" is no absolute path; the backup is written on the database host").arg(file));
    const QString password = configuredPassword(dataFolder, conf);
    const QString gbak = QStandardPaths::findExecutable(QStringLiteral("gbak"));
    if (gbak.isEmpty())
        throw Error(QStringLiteral("gbak was not found (it comes with firebird3.0-utils)"));
    const QString host = LocationHost(conf.location);
    UseEngineRoot();
    // The password goes through a pipe: on the command line anybody on
    // this machine could read it.
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(gbak, {QStringLiteral("-b"), QStringLiteral("-se"), host + QStringLiteral(":service_mgr"),
                     conf.location.mid(host.size() + 1), file, QStringLiteral("-user"), conf.user,
                     QStringLiteral("-fetch_password"), QStringLiteral("stdin")});
    run.write(password.toUtf8() + '\n');
    run.closeWriteChannel();
    run.waitForFinished(-1);
    QStringList said = QString::fromLocal8Bit(run.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : said)
        line = line.trimmed();
    if (run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0)
        throw Error(QStringLiteral("Cannot back up %1 into %2: %3")
                        .arg(conf.location, file,
                             ServerRefusal(conf.location, said.isEmpty() ? run.errorString() : said.join(QStringLiteral("; ")))));
    return QStringLiteral("Backed up %1 into %2 on %3\n").arg(conf.location, file, host);
}

void AddDatabaseCommands(CLI::App& app, DatabaseArguments& a, FolderCommand& chosen)
{
    CLI::App* database = app.add_subcommand("database", "Where the data folder's database is: embedded or on a Firebird server");
    database->require_subcommand(1);
    const auto leaf = [&](const char* name, const char* help, FolderCommand command) {
        CLI::App* sub = database->add_subcommand(name, help);
        sub->callback([&chosen, command] { chosen = command; });
        return sub;
    };
    leaf("show", "Print where the database is", [](const QString& folder) { return DatabaseShow(folder); });
    CLI::App* set = leaf("set", "Use a database on a Firebird server (location=HOST[/PORT]:PATH user=NAME), or the embedded file (location=)",
                         [&a](const QString& folder) {
                             QStringList assignments;
                             for (const std::string& s : a.assignments)
                                 assignments << q(s);
                             return DatabaseSet(folder, assignments, q(a.passwordFile));
                         });
    set->add_option("key=value", a.assignments, "location=… and user=…")->required();
    set->add_option("--password-file", a.passwordFile, "A file of mode 0600 holding the database password; - for standard input")
        ->type_name("FILE");
    leaf("create", "Make the configured database from the schema", [](const QString& folder) {
        return DatabaseCreate(folder, FindPlaces(ExecutableFolder()).schemaFile());
    });
    leaf("backup", "Back up the server database while it is in use, into FILE on the database host (gbak through its service manager)",
         [&a](const QString& folder) { return DatabaseBackup(folder, q(a.backupFile)); })
        ->add_option("file", a.backupFile, "The backup's absolute path on the database host, written by the server's own user")
        ->required();
    leaf("import", "Copy every row of an embedded data folder's database into the server's, just made",
         [&a](const QString& folder) { return DatabaseImport(folder, q(a.sourceFolder)); })
        ->add_option("folder", a.sourceFolder, "The data folder holding PALISOR.GDB")
        ->required();
}

}  // namespace palisor::ctl
