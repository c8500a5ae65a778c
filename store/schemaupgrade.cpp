// Bringing a database file to the latest schema version: the one-time
// upgrade of a database made by an earlier Palisor, with a copy to fall back
// on.

#include "core/error.h"
#include "store/datapalisor.h"
#include "store/fbattachment.h"
#include "store/upgrade.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QMutex>
#include <QStorageInfo>
#include <cstdio>
#include <unistd.h>

namespace palisor {
namespace {

// The upgrade grows the file; this much room beyond the copy is asked for.
constexpr qint64 GrowthRoom = 16 * 1024 * 1024;

FbAttachment attach(const QString& file)
{
    return FbAttachment(file, QString::fromLatin1(TDataPalisor::DbUser), QString::fromLatin1(TDataPalisor::DbPassword));
}

bool hasVersionTable(FbAttachment& db)
{
    return db.number(QStringLiteral("SELECT COUNT(*) FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = 'SCHEMA_VERSION'"))
               .value_or(0)
           > 0;
}

// A database from before the versions were kept is at version 0, whatever
// an earlier upgrade gave it.
int schemaVersion(FbAttachment& db)
{
    db.begin();
    const int version =
        hasVersionTable(db) ? int(db.number(QStringLiteral("SELECT MAX(VERSION) FROM SCHEMA_VERSION")).value_or(0)) : 0;
    db.commit();
    return version;
}

void setSchemaVersion(FbAttachment& db, int version)
{
    db.begin();
    const bool present = hasVersionTable(db);
    if (!present)
        db.execute(QStringLiteral("CREATE TABLE SCHEMA_VERSION (VERSION INTEGER NOT NULL)"));
    db.commit();
    db.begin();
    db.execute(QStringLiteral("DELETE FROM SCHEMA_VERSION"));
    db.execute(QStringLiteral("INSERT INTO SCHEMA_VERSION (VERSION) VALUES (%1)").arg(version));
    db.commit();
}

// Runs the script's statements whose objects are missing, each committed on
// its own; returns how many objects it made.
int applyScript(FbAttachment& db, const UpgradeScript& script)
{
    int made = 0;
    for (const UpgradeStep& step : ParseUpgradeScript(script.text)) {
        db.begin();
        if (step.existsQuery.isEmpty() || db.number(step.existsQuery).value_or(0) == 0) {
            db.execute(step.statement);
            made += step.existsQuery.isEmpty() ? 0 : 1;
        }
        db.commit();
    }
    setSchemaVersion(db, script.version);
    return made;
}

bool replaceFile(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A complete, flushed copy under a temporary name that becomes `copy` only
// when whole.
void copyFile(const QString& file, const QString& copy)
{
    const QString partial = copy + QStringLiteral(".new");
    QFile in(file);
    QFile out(partial);
    if (!in.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("cannot read %1: %2").arg(file, in.errorString()));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw Error(QStringLiteral("cannot write %1: %2").arg(partial, out.errorString()));
    out.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    bool written = true;
    while (written && !in.atEnd()) {
        const QByteArray block = in.read(1 << 20);
        written = !block.isEmpty() && out.write(block) == block.size();
    }
    written = written && out.flush() && ::fsync(out.handle()) == 0;
    const QString error = out.errorString();
    out.close();
    if (!written || !replaceFile(partial, copy)) {
        QFile::remove(partial);
        throw Error(QStringLiteral("cannot copy %1 to %2: %3").arg(file, copy, error));
    }
}

QString megabytes(qint64 bytes) { return QLocale::c().toString(double(bytes) / 1e6, 'f', 1) + QStringLiteral(" MB"); }

// Runs the missing scripts with the copy to fall back on; throws with what
// went wrong and what became of the file.
void upgradeWithCopy(const QString& file, const QString& copy, int from, const std::function<void(const QString&)>& log)
{
    const qint64 size = QFileInfo(file).size();
    QStorageInfo disk(QFileInfo(file).absolutePath());
    disk.refresh();
    if (disk.bytesAvailable() < size + GrowthRoom)
        throw Error(QStringLiteral("%1 free beside %2, the upgrade needs %3; the database was left as it was")
                        .arg(megabytes(disk.bytesAvailable()), file, megabytes(size + GrowthRoom)));
    try {
        copyFile(file, copy);
    } catch (const Error& e) {
        throw Error(e.message() + QStringLiteral("; the database was left as it was"));
    }
    int made = 0;
    int to = from;
    try {
        FbAttachment db = attach(file);
        for (const UpgradeScript& script : UpgradeScripts()) {
            if (script.version > from) {
                made += applyScript(db, script);
                to = script.version;
            }
        }
    } catch (const Error& e) {
        // The attachment is closed, so the file is the process's no longer.
        if (!replaceFile(copy, file))
            throw Error(e.message() + QStringLiteral("; the database from before the upgrade is in ") + copy);
        throw Error(e.message() + QStringLiteral("; the database was put back as it was before the upgrade"));
    }
    QFile::remove(copy);
    log(QStringLiteral("Database upgraded from version %1 to %2: %3 objects added").arg(from).arg(to).arg(made));
}

}  // namespace

bool UpgradeServerDatabase(const QString& location, const QString& user, const QString& password,
                           const std::function<void(const QString&)>& log)
{
    static QMutex lock;
    static QHash<QString, bool> outcomes;
    const QMutexLocker locked(&lock);
    if (const auto known = outcomes.constFind(location); known != outcomes.constEnd())
        return *known;
    FbAttachment db(location, user, password);
    bool current = false;
    try {
        const int from = schemaVersion(db);
        int made = 0;
        for (const UpgradeScript& script : UpgradeScripts()) {
            if (script.version > from)
                made += applyScript(db, script);
        }
        if (from < LatestSchemaVersion())
            log(QStringLiteral("Database upgraded from version %1 to %2: %3 objects added").arg(from).arg(LatestSchemaVersion()).arg(made));
        current = true;
    } catch (const Error& e) {
        log(QStringLiteral("Exception: History not available: the database upgrade failed: ") + e.message());
    }
    outcomes.insert(location, current);
    return current;
}

bool UpgradeDatabaseFile(const QString& file, const QString& copy, const std::function<void(const QString&)>& log)
{
    static QMutex lock;
    static QHash<QString, bool> outcomes;
    const QMutexLocker locked(&lock);
    const QString key = QFileInfo(file).absoluteFilePath();
    if (const auto known = outcomes.constFind(key); known != outcomes.constEnd())
        return *known;

    QFile::remove(copy + QStringLiteral(".new"));
    if (QFile::exists(copy)) {
        // The process was killed during an upgrade: the file may be half
        // upgraded or damaged, the copy is whole.
        if (!replaceFile(copy, file))
            throw Error(QStringLiteral("Cannot move %1 back to %2").arg(copy, file));
        log(QStringLiteral("Restored the database from %1, made before an upgrade that was cut short").arg(copy));
    }
    bool current = false;
    try {
        int version = 0;
        {
            FbAttachment db = attach(file);
            version = schemaVersion(db);
        }
        if (version < LatestSchemaVersion())
            upgradeWithCopy(file, copy, version, log);
        current = true;
    } catch (const Error& e) {
        log(QStringLiteral("Exception: History not available: the database upgrade failed: ") + e.message());
    }
    outcomes.insert(key, current);
    return current;
}

}  // namespace palisor
