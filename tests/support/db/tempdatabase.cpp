#include "tests/support/db/tempdatabase.h"

#include "core/datafiles.h"
#include "core/error.h"
#include "store/sharedengine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>

namespace palisor::test {
namespace {

// Building a database with isql-fb takes a moment, so each test program
// builds one per schema and copies it for every TempDatabase. `schema` is
// relative to the folder of the product's schema file.
QString createdDatabase(const QString& schema)
{
    static QTemporaryDir folder;
    static QHash<QString, QString> made;
    if (made.contains(schema))
        return made.value(schema);
    const QString product = qEnvironmentVariable("PALISOR_SCHEMA");
    if (product.isEmpty() || !QFileInfo::exists(product))
        throw Error(QStringLiteral("PALISOR_SCHEMA does not name the schema file"));
    const QDir store = QFileInfo(product).absoluteDir();
    const QString target = QDir(folder.path()).filePath(QString::number(made.size()));
    QProcess create;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PALISOR_SCHEMA"), store.filePath(schema));
    create.setProcessEnvironment(environment);
    create.start(store.filePath(QStringLiteral("../scripts/create-db")), {target});
    if (!create.waitForFinished(120000) || create.exitStatus() != QProcess::NormalExit || create.exitCode() != 0)
        throw Error(QStringLiteral("create-db failed: ") + QString::fromLocal8Bit(create.readAllStandardError())
                    + QString::fromLocal8Bit(create.readAllStandardOutput()));
    made.insert(schema, QDir(target).filePath(QStringLiteral("PALISOR.GDB")));
    return made.value(schema);
}

// The test process runs the engine as the programs do, with one lock folder
// for all its databases (the engine reads it once): each data folder's lock
// folder leads there, so a program the test starts on the folder shares the
// database with the test.
QString processLockFolder()
{
    static QTemporaryDir own;
    static const QString locks = [] {
        QString folder = qEnvironmentVariable("FIREBIRD_LOCK");
        if (folder.isEmpty()) {
            folder = own.path();
            qputenv("FIREBIRD_LOCK", QFile::encodeName(folder));
        }
        qputenv("FIREBIRD", QFile::encodeName(PrepareEngineRoot()));
        QDir().mkpath(folder);
        return QDir(folder).absolutePath();
    }();
    return locks;
}

}  // namespace

TempDatabase::TempDatabase(Made made)
{
    if (!dir_.isValid())
        throw Error(QStringLiteral("Cannot make a temporary folder"));
    QDir(dir_.path()).mkpath(QStringLiteral("data"));
    if (!QFile::link(processLockFolder(), QDir(dataFolder()).filePath(QLatin1String(EngineLockFolderName))))
        throw Error(QStringLiteral("Cannot link the engine's lock folder into ") + dataFolder());
    const QString from = createdDatabase(made == Made::BeforeHistory
                                             ? QStringLiteral("../tests/support/db/schema-before-history.sql")
                                             : QStringLiteral("schema.sql"));
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
