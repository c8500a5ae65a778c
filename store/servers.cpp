#include "store/servers.h"

#include "core/error.h"
#include "store/monitorclaim.h"
#include "store/settingrules.h"
#include "store/sqltext.h"

#include <QSqlQuery>

#include <algorithm>

namespace palisor {

using namespace palisor::sql;

namespace {

// A change made on a fresh snapshot, so it sees what other programs
// committed, and committed at once; nothing of it stays when it fails.
template <typename Change>
void commitChange(QSqlDatabase& db, Change change)
{
    db.rollback();
    db.transaction();
    try {
        change();
        commitAndContinue(db);
    } catch (...) {
        db.rollback();
        db.transaction();
        throw;
    }
}

QString text(const QVariant& value) { return withoutTrailingBlanks(value.toString()); }

// Refuses a name another server has, told apart without regard to case.
void requireFreeName(const QSqlDatabase& db, const QString& name, int id)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT NAME FROM SERVERS WHERE UPPER(NAME) = UPPER(?) AND ID <> ?"), {name, id});
    if (q.next())
        throw Error(QStringLiteral("There is already a server named %1.").arg(text(q.value(0))));
}

// Two entries for one game server would have it polled, and its players
// kicked, twice.
void requireFreeAddress(const QSqlDatabase& db, const QString& address, const QString& port)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT S.NAME FROM SETTINGS T JOIN SERVERS S ON S.ID = T.SERVER_ID "
                                         "WHERE UPPER(T.ADDRESS) = UPPER(?) AND T.PORT = ?"),
                      {address, port});
    if (q.next())
        throw Error(QStringLiteral("The server %1 is %2:%3 already.").arg(text(q.value(0)), address, port));
}

QString checked(const char* key, const QString& typed)
{
    return CheckedSetting(*FindSettingRule(QString::fromLatin1(key)), typed).toString();
}

}  // namespace

QString CheckedServerName(const QString& typed)
{
    const QString name = typed.trimmed();
    if (name.isEmpty())
        throw Error(QStringLiteral("A server needs a name."));
    if (name.size() > ServerNameLength)
        throw Error(QStringLiteral("The server name %1 is longer than %2 characters.").arg(name).arg(ServerNameLength));
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() > 0xFF)
            throw Error(QStringLiteral("The server name %1 holds a character that cannot be stored.").arg(name));
    }
    return name;
}

QList<ServerEntry> ReadServers(const QSqlDatabase& db)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT S.ID, S.NAME, T.ADDRESS, T.PORT, T.SCANTIME, T.MAXPING, T.PASSWORD "
                                         "FROM SERVERS S LEFT JOIN SETTINGS T ON T.SERVER_ID = S.ID ORDER BY S.ID"));
    QList<ServerEntry> servers;
    while (q.next()) {
        if (!servers.isEmpty() && servers.last().id == q.value(0).toInt())
            continue;
        servers.append({q.value(0).toInt(), text(q.value(1)), text(q.value(2)), text(q.value(3)), text(q.value(4)),
                        text(q.value(5)), !text(q.value(6)).isEmpty()});
    }
    return servers;
}

std::optional<ServerEntry> FindServer(const QSqlDatabase& db, const QString& name)
{
    for (const ServerEntry& server : ReadServers(db)) {
        if (server.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0)
            return server;
    }
    return std::nullopt;
}

int AddServer(QSqlDatabase& db, const QString& name, const QString& address, const QString& port)
{
    const QString stored = CheckedServerName(name);
    const QString host = checked("address", address);
    const QString number = checked("port", port);
    int id = 0;
    commitChange(db, [&] {
        requireFreeName(db, stored, 0);
        requireFreeAddress(db, host, number);
        QSqlQuery next = run(db, QStringLiteral("SELECT NEXT VALUE FOR SERVERS_ID FROM RDB$DATABASE"));
        id = next.next() ? next.value(0).toInt() : 0;
        run(db, QStringLiteral("INSERT INTO SERVERS (ID, NAME) VALUES (?, ?)"), {id, stored});
        run(db, QStringLiteral("INSERT INTO SETTINGS (ADDRESS, PORT, PASSWORD, SCANTIME, MAXPING, SORTED, MSGON, "
                               "MSGTIME, SERVER_ID) VALUES (?, ?, '', '30', '250', 'CLIENTID', 'False', 5, ?)"),
            {host, number, id});
    });
    return id;
}

void RenameServer(QSqlDatabase& db, int id, const QString& newName)
{
    const QString stored = CheckedServerName(newName);
    commitChange(db, [&] {
        requireFreeName(db, stored, id);
        if (run(db, QStringLiteral("UPDATE SERVERS SET NAME = ? WHERE ID = ?"), {stored, id}).numRowsAffected() != 1)
            throw Error(QStringLiteral("The server is no longer there."));
    });
}

void RemoveServer(QSqlDatabase& db, int id)
{
    commitChange(db, [&] {
        const QList<ServerEntry> servers = ReadServers(db);
        const auto it = std::find_if(servers.begin(), servers.end(), [id](const ServerEntry& s) { return s.id == id; });
        if (it == servers.end())
            throw Error(QStringLiteral("The server is no longer there."));
        if (servers.size() == 1)
            throw Error(QStringLiteral("%1 is the only server; add another before removing it.").arg(it->name));
        const std::optional<MonitorClaim> claim = ReadClaim(db, id);
        if (claim && KeepsOthersOff(*claim, QDateTime::currentDateTimeUtc()))
            throw Error(claim->describe(it->addressPort()) + QStringLiteral(" Stop it before removing %1.").arg(it->name));
        for (const char* statement : {"DELETE FROM PLAYERS WHERE SERVER_ID = ?", "DELETE FROM SAMPLES WHERE SERVER_ID = ?",
                                      "DELETE FROM SAMPLESPANS WHERE SERVER_ID = ?", "DELETE FROM SERVER_STATE WHERE ID = ?",
                                      "DELETE FROM MONITOR_CLAIM WHERE ID = ?", "DELETE FROM MESSAGES WHERE SERVER_ID = ?",
                                      "DELETE FROM SETTINGS WHERE SERVER_ID = ?",
                                      "UPDATE RECENT SET LASTSERVER = NULL WHERE LASTSERVER = ?",
                                      "DELETE FROM SERVERS WHERE ID = ?"})
            run(db, QString::fromLatin1(statement), {id});
    });
}

}  // namespace palisor
