#include "store/firststart.h"

#include "core/datafiles.h"
#include "core/error.h"
#include "core/startup.h"
#include "store/datapalisor.h"
#include "store/sharedengine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <sys/statvfs.h>

namespace palisor {

namespace {

constexpr QFileDevice::Permissions OwnerOnly =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

void makePrivateFolder(const QString& path)
{
    const QFileInfo folder(path);
    if (folder.isDir())
        return;
    if (folder.exists())
        throw Error(QStringLiteral("%1 is not a folder").arg(path));
    if (!QDir().mkpath(path) || !QFile::setPermissions(path, OwnerOnly))
        throw Error(QStringLiteral("Cannot create the folder ") + path);
}

QString sqlText(const QString& text) { return QLatin1Char('\'') + QString(text).replace(QStringLiteral("'"), QStringLiteral("''")) + QLatin1Char('\''); }

QString isqlProgram()
{
    const QString beside = QStandardPaths::findExecutable(QStringLiteral("isql-fb"), {ExecutableFolder()});
    return beside.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("isql-fb")) : beside;
}

}  // namespace

namespace {

// The schema behind a CREATE DATABASE statement, with the remote-console
// password when one is given.
QString creationScript(const QString& create, const QString& schemaFile, const QString& rconPassword)
{
    QFile schema(schemaFile);
    if (!schema.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read the schema %1: %2").arg(schemaFile, schema.errorString()));
    QString script = create + QStringLiteral(" PAGE_SIZE 8192 DEFAULT CHARACTER SET ISO8859_1;\n")
                     + QString::fromLatin1(schema.readAll());
    if (!rconPassword.isEmpty())
        script += QStringLiteral("\nUPDATE SETTINGS SET PASSWORD = %1;\nCOMMIT;\n").arg(sqlText(rconPassword));
    return script;
}

// Runs the script through isql-fb; false, with what it said, when it failed.
bool runIsql(const QString& script, QString* said)
{
    // The script names the database password: a private temporary file.
    QTemporaryFile file;
    if (!file.open() || file.write(script.toLatin1()) != script.toLatin1().size() || !file.flush())
        throw Error(QStringLiteral("Cannot write the database script: ") + file.errorString());
    const QString isql = isqlProgram();
    if (isql.isEmpty())
        throw Error(QStringLiteral("Cannot create the database: isql-fb was not found"));
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(isql, {QStringLiteral("-q"), QStringLiteral("-b"), QStringLiteral("-ch"), QStringLiteral("ISO8859_1"),
                     QStringLiteral("-i"), file.fileName()});
    const bool finished = run.waitForFinished(120000);
    const bool made = finished && run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    if (!finished) {
        run.kill();
        run.waitForFinished();
    }
    *said = QString::fromLocal8Bit(run.readAll()).trimmed();
    return made;
}

}  // namespace

bool CreateMissingDatabase(const QString& dataFolder, const QString& schemaFile, const QString& rconPassword)
{
    const QDir data(dataFolder);
    const QString target = data.filePath(QStringLiteral("PALISOR.GDB"));
    if (QFile::exists(target) || QFile::exists(data.filePath(QStringLiteral("PALISOR.BKP"))))
        return false;

    // Made under another name and moved into place only when complete, so an
    // interrupted first start never leaves a half-made database behind.
    const QString partial = target + QStringLiteral(".new");
    QFile::remove(partial);
    const QString script = creationScript(QStringLiteral("CREATE DATABASE %1 USER %2 PASSWORD %3")
                                              .arg(sqlText(partial), sqlText(QString::fromLatin1(TDataPalisor::DbUser)),
                                                   sqlText(QString::fromLatin1(TDataPalisor::DbPassword))),
                                          schemaFile, rconPassword);
    QString said;
    const bool made = runIsql(script, &said);
    ProtectDataFile(partial);
    if (!made || !QFile::rename(partial, target)) {
        QFile::remove(partial);
        throw Error(QStringLiteral("Cannot create the database %1: %2").arg(target, said));
    }
    return true;
}

void CreateServerDatabase(const QString& location, const QString& user, const QString& password, const QString& schemaFile)
{
    const QString script = creationScript(
        QStringLiteral("CREATE DATABASE %1 USER %2 PASSWORD %3").arg(sqlText(location), sqlText(user), sqlText(password)),
        schemaFile, QString());
    QString said;
    if (!runIsql(script, &said))
        throw Error(QStringLiteral("Cannot create the database %1: %2").arg(location, said));
}

void PrepareDataFolder(const QString& dataFolder)
{
    makePrivateFolder(dataFolder);
    QDir::setCurrent(dataFolder);
    ShareDataFolderEngine(dataFolder);
    // The engine maps its lock and monitoring tables (a megabyte each) as
    // sparse files: on a full disk the first page it touches kills the
    // program with SIGBUS, before any error could be reported.
    RequireFreeSpace(dataFolder);
    RequireFreeSpace(qEnvironmentVariable("FIREBIRD_LOCK"));
}

void RequireFreeSpace(const QString& folder)
{
    struct statvfs disk {};
    if (::statvfs(QFile::encodeName(folder).constData(), &disk) != 0)
        return;
    const unsigned long long free = static_cast<unsigned long long>(disk.f_bavail) * disk.f_frsize;
    if (free < MinimumFreeSpace)
        throw Error(QStringLiteral("No space left on device: %1 has %2 kB free, and the database engine "
                                   "needs %3 MB there")
                        .arg(folder)
                        .arg(free / 1024)
                        .arg(MinimumFreeSpace / (1024 * 1024)));
}

}  // namespace palisor
