// Moving an embedded data folder's database to a server: every row of the
// lists, the settings and the history, in one transaction.
#include "ctl/database.h"

#include "core/error.h"
#include "store/databaseconf.h"
#include "store/datapalisor.h"
#include "store/sharedengine.h"
#include "store/sqltext.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSqlRecord>

#include <algorithm>

namespace palisor::ctl {

using namespace palisor::sql;

namespace {

// In the order they are copied. PLAYERS and the monitor's claim describe a
// running monitor, not the data; the ten-minute spans are made again from the
// samples by the database itself.
const char* const CopiedTables[] = {"SERVERS", "SETTINGS", "ILLEGAL", "IMMUNE",  "MAPALIAS",    "MESSAGES",
                                    "RECENT",  "BANNED",   "EVENTS",  "SAMPLES", "SERVER_STATE"};
const char* const CopiedSequences[] = {"EVENTS_ID", "RECENT_EXPIRED", "SERVERS_ID"};
// The tables a database is made with a row in: the copy replaces it.
bool madeWithRows(const QString& table)
{
    return table == QLatin1String("SERVERS") || table == QLatin1String("SETTINGS");
}

bool hasTable(const QSqlDatabase& db, const QString& table)
{
    return run(db, QStringLiteral("SELECT 1 FROM RDB$RELATIONS WHERE RDB$RELATION_NAME = ?"), {table}).next();
}

qint64 rows(const QSqlDatabase& db, const QString& table)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT COUNT(*) FROM %1").arg(table));
    return q.next() ? q.value(0).toLongLong() : 0;
}

// Rows go over in blocks, one statement each: sent a row at a time, the
// round trips to the server took most of a large import. A block holds at
// most this many values, which keeps its text and its parameters well
// within what the server takes in one statement.
constexpr int ValuesPerBlock = 240;
constexpr int RowsPerBlock = 64;

// One statement inserting `rows` rows, its parameters row by row, each typed
// as its column.
QString blockStatement(const QString& table, const QStringList& columns, int rows)
{
    QStringList parameters, inserts;
    for (int row = 0; row < rows; ++row) {
        QStringList values;
        for (int c = 0; c < columns.size(); ++c) {
            const QString name = QStringLiteral("P%1_%2").arg(row).arg(c);
            parameters << QStringLiteral("%1 TYPE OF COLUMN %2.%3 = ?").arg(name, table, columns[c]);
            values << QLatin1Char(':') + name;
        }
        inserts << QStringLiteral("INSERT INTO %1 (%2) VALUES (%3);")
                       .arg(table, columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
    }
    return QStringLiteral("EXECUTE BLOCK (%1) AS BEGIN %2 END")
        .arg(parameters.join(QStringLiteral(", ")), inserts.join(QLatin1Char(' ')));
}

// Every row of the table, with the columns both databases have.
qint64 copyTable(const QSqlDatabase& from, const QSqlDatabase& to, const QString& table)
{
    const QSqlRecord target = to.record(table);
    QSqlQuery read(from);
    read.setForwardOnly(true);
    if (!read.exec(QStringLiteral("SELECT * FROM %1").arg(table)))
        throw Error(errorText(read.lastError()));
    const QSqlRecord source = read.record();
    QStringList columns;
    QList<int> positions;
    for (int i = 0; i < source.count(); ++i) {
        if (target.contains(source.fieldName(i))) {
            columns << source.fieldName(i);
            positions << i;
        }
    }
    const int blockRows = std::clamp(ValuesPerBlock / int(std::max<qsizetype>(columns.size(), 1)), 1, RowsPerBlock);
    QSqlQuery write(to);
    int preparedRows = 0;
    QVariantList pending;
    const auto send = [&](int rows) {
        if (rows != preparedRows && !write.prepare(blockStatement(table, columns, rows)))
            throw Error(QStringLiteral("%1: %2").arg(table, errorText(write.lastError())));
        preparedRows = rows;
        for (int i = 0; i < pending.size(); ++i)
            write.bindValue(i, pending[i]);
        if (!write.exec())
            throw Error(QStringLiteral("%1: %2").arg(table, errorText(write.lastError())));
        pending.clear();
    };
    qint64 copied = 0;
    while (read.next()) {
        for (int position : positions)
            pending << read.value(position);
        if (++copied % blockRows == 0)
            send(blockRows);
    }
    if (!pending.isEmpty())
        send(int(copied % blockRows));
    return copied;
}

QSqlDatabase connection(const QString& name, const QString& location, const QString& user, const QString& password)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), name);
    db.setDatabaseName(location);
    db.setUserName(user);
    db.setPassword(password);
    if (!db.open())
        throw Error(QStringLiteral("Cannot open the database %1: %2")
                        .arg(location, ServerRefusal(location, errorText(db.lastError()))));
    db.transaction();
    return db;
}

}  // namespace

QString DatabaseImport(const QString& dataFolder, const QString& sourceFolder)
{
    const DatabaseConf conf = ReadDatabaseConf(dataFolder);
    if (!conf.onServer())
        throw Error(QStringLiteral("The database of %1 is no server's; palisorctl database set names one").arg(dataFolder));
    const QString folder = QDir::cleanPath(QDir(sourceFolder).absolutePath());
    const QString file = QDir(folder).filePath(QStringLiteral("PALISOR.GDB"));
    if (!QFile::exists(file))
        throw Error(QStringLiteral("%1 holds no Palisor database (PALISOR.GDB)").arg(folder));
    const QString password = ReadDatabasePassword(PasswordFilePath(dataFolder, conf));
    // The file may be open in the programs on its folder: the engine is run
    // as they run it.
    ShareDataFolderEngine(folder);

    const QString fromName = QStringLiteral("palisor-import-from");
    const QString toName = QStringLiteral("palisor-import-to");
    const auto closed = qScopeGuard([&] {
        for (const QString& name : {fromName, toName}) {
            {
                QSqlDatabase db = QSqlDatabase::database(name, false);
                if (db.isOpen()) {
                    db.rollback();
                    db.close();
                }
            }
            QSqlDatabase::removeDatabase(name);
        }
    });
    QSqlDatabase from = connection(fromName, file, QString::fromLatin1(TDataPalisor::DbUser), QString::fromLatin1(TDataPalisor::DbPassword));
    QSqlDatabase to = connection(toName, conf.location, conf.user, password);

    QStringList tables;
    for (const char* name : CopiedTables) {
        const QString table = QLatin1String(name);
        if (!hasTable(from, table))
            continue;
        if (!hasTable(to, table))
            throw Error(QStringLiteral("%1 has no table %2; nothing was imported").arg(conf.location, table));
        // Copied rows would mix with rows of the server's own programs.
        if (!madeWithRows(table) && rows(to, table) > 0)
            throw Error(QStringLiteral("%1 holds rows in %2 already: only a database just made is imported into; nothing was imported")
                            .arg(conf.location, table));
        tables << table;
    }
    QString report = QStringLiteral("Imported %1 into %2:\n").arg(file, conf.location);
    for (const QString& table : tables) {
        // The servers and their settings replace the defaults; the bans' own
        // records of being made are replaced by the history they come with.
        if (madeWithRows(table) || table == QLatin1String("EVENTS"))
            run(to, QStringLiteral("DELETE FROM %1").arg(table));
        report += QStringLiteral("%1 %2\n").arg(table).arg(copyTable(from, to, table));
    }
    for (const char* name : CopiedSequences) {
        if (!run(from, QStringLiteral("SELECT 1 FROM RDB$GENERATORS WHERE RDB$GENERATOR_NAME = ?"), {QLatin1String(name)}).next())
            continue;
        QSqlQuery value = run(from, QStringLiteral("SELECT GEN_ID(%1, 0) FROM RDB$DATABASE").arg(QLatin1String(name)));
        if (value.next())
            run(to, QStringLiteral("SELECT GEN_ID(%1, CAST(? AS BIGINT) - GEN_ID(%1, 0)) FROM RDB$DATABASE").arg(QLatin1String(name)), {value.value(0)}).next();
    }
    if (!to.commit())
        throw Error(QStringLiteral("Nothing was imported: ") + errorText(to.lastError()));
    return report;
}

}  // namespace palisor::ctl
