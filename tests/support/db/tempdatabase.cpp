#include "tests/support/db/tempdatabase.h"

#include "core/error.h"
#include "store/upgrade.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace palisor::test {
namespace {

// Building a database with isql-fb takes a moment, so each test program
// builds one and copies it for every TempDatabase.
QString createdDatabase()
{
    static QTemporaryDir folder;
    static QString made;
    if (!made.isEmpty())
        return made;
    const QString schema = qEnvironmentVariable("PALISOR_SCHEMA");
    if (schema.isEmpty() || !QFileInfo::exists(schema))
        throw Error(QStringLiteral("PALISOR_SCHEMA does not name the schema file"));
    const QString script = QFileInfo(schema).absoluteDir().filePath(QStringLiteral("../scripts/create-db"));
    QProcess create;
    create.start(script, {folder.path()});
    if (!create.waitForFinished(120000) || create.exitStatus() != QProcess::NormalExit || create.exitCode() != 0)
        throw Error(QStringLiteral("create-db failed: ") + QString::fromLocal8Bit(create.readAllStandardError())
                    + QString::fromLocal8Bit(create.readAllStandardOutput()));
    made = QDir(folder.path()).filePath(QStringLiteral("PALISOR.GDB"));
    return made;
}

// The created database as the program leaves it after its first connect.
QString upgradedDatabase()
{
    static QTemporaryDir folder;
    static QString made;
    if (!made.isEmpty())
        return made;
    const QString path = QDir(folder.path()).filePath(QStringLiteral("PALISOR.GDB"));
    if (!QFile::copy(createdDatabase(), path))
        throw Error(QStringLiteral("Cannot copy the created database to ") + path);
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), QStringLiteral("palisor-test-upgrade"));
        db.setDatabaseName(path);
        db.setUserName(QString::fromLatin1(TDataPalisor::DbUser));
        db.setPassword(QString::fromLatin1(TDataPalisor::DbPassword));
        if (!db.open())
            throw Error(QStringLiteral("Cannot open ") + path);
        ApplyUpgrade(db, ParseUpgradeScript(HistoryScript()));
        ApplyUpgrade(db, ParseUpgradeScript(NameChangesScript()));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("palisor-test-upgrade"));
    made = path;
    return made;
}

}  // namespace

TempDatabase::TempDatabase(Made made)
{
    if (!dir_.isValid())
        throw Error(QStringLiteral("Cannot make a temporary folder"));
    QDir(dir_.path()).mkpath(QStringLiteral("data"));
    const QString from = made == Made::ByCreateDb ? createdDatabase() : upgradedDatabase();
    if (!QFile::copy(from, databasePath()))
        throw Error(QStringLiteral("Cannot copy the template database to ") + databasePath());
    QFile::setPermissions(databasePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QString TempDatabase::folder() const { return dir_.path(); }
QString TempDatabase::dataFolder() const { return QDir(dir_.path()).filePath(QStringLiteral("data")); }
QString TempDatabase::databasePath() const { return QDir(dataFolder()).filePath(QStringLiteral("PALISOR.GDB")); }

std::unique_ptr<TDataPalisor> TempDatabase::createDataModule() const
{
    auto module = std::make_unique<TDataPalisor>(folder());
    module->DataModuleCreate();
    return module;
}

QString ValidateDatabase(const QString& file)
{
    QProcess gfix;
    gfix.setProcessChannelMode(QProcess::MergedChannels);
    gfix.start(QStringLiteral("gfix"), {"-v", "-full", "-user", "SYSDBA", "-password", "x", file});
    if (!gfix.waitForFinished(120000))
        return QStringLiteral("gfix did not finish");
    const QString report = QString::fromLocal8Bit(gfix.readAll()).trimmed();
    const bool sound = gfix.exitStatus() == QProcess::NormalExit && gfix.exitCode() == 0 && report.isEmpty();
    return sound ? QString() : QStringLiteral("gfix exit %1: %2").arg(gfix.exitCode()).arg(report);
}

QStringList RecordedEvents(const TDataPalisor& data)
{
    QStringList lines;
    const QList<PenaltyEvent> events = ReadEvents(data.database());
    for (auto it = events.rbegin(); it != events.rend(); ++it)
        lines << QStringList{it->kind, it->clientId, it->name, it->address, it->reason, it->source}.join('|');
    return lines;
}

QStringList RecordedSamples(const TDataPalisor& data)
{
    QSqlQuery q(data.database());
    q.exec(QStringLiteral("SELECT PLAYERCOUNT, MAXPLAYERS, MAPNAME, MEDIANPING, HIGHPING, NEWMAP FROM SAMPLES "
                          "ORDER BY TAKEN"));
    QStringList lines;
    const auto text = [&q](int column) { return q.value(column).isNull() ? QString() : q.value(column).toString(); };
    while (q.next()) {
        const QString map = (q.value(5).toInt() == 1 ? QStringLiteral(">") : QString()) + text(2);
        lines << QStringLiteral("%1/%2 %3 %4 %5").arg(text(0), text(1), map, text(3), text(4));
    }
    return lines;
}

}  // namespace palisor::test
