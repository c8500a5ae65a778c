#include "store/monitorclaim.h"

#include "core/error.h"
#include "store/sqltext.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QSysInfo>
#include <QTimeZone>

#include <cerrno>
#include <csignal>

namespace palisor {

using namespace palisor::sql;

namespace {

constexpr int kStaleGraceSeconds = 60;

// The driver stores a time's own date and clock reading: given in UTC, the
// column holds UTC, and what it reads back is that reading.
QDateTime utcStamp(const QDateTime& at) { return at.toUTC(); }
QDateTime readUtc(const QVariant& value)
{
    if (value.isNull())
        return {};
    const QDateTime stored = value.toDateTime();
    return QDateTime(stored.date(), stored.time(), Qt::UTC);
}

// A fresh snapshot: what other programs committed up to now is seen, and a
// row another program changed since then cannot be overwritten unnoticed.
void beginFresh(QSqlDatabase& db)
{
    db.rollback();
    db.transaction();
}

void rollBackAndContinue(QSqlDatabase& db)
{
    db.rollback();
    db.transaction();
}

// A process of this host that no longer exists: its claim was left by a
// monitor killed outright and need not wait to go stale. A process that
// exists but is another user's still counts.
bool endedHere(const MonitorClaim& claim, const MonitorIdentity& me)
{
    return claim.host == me.host && claim.pid > 0 && ::kill(pid_t(claim.pid), 0) != 0 && errno == ESRCH;
}

QString ownerCondition(int server)
{
    return QStringLiteral("ID = %1 AND PROGRAM = ? AND HOST = ? AND PID = ?").arg(server);
}
QVariantList ownerValues(const MonitorIdentity& me) { return {me.program, me.host, me.pid}; }

}  // namespace

bool KeepsOthersOff(const MonitorClaim& claim, const QDateTime& nowUtc)
{
    return !claim.staleAt(nowUtc) && !endedHere(claim, MonitorIdentity::current());
}

bool MonitorClaim::staleAt(const QDateTime& nowUtc) const
{
    return renewed.addSecs(3LL * scanTime + kStaleGraceSeconds) < nowUtc;
}

QString MonitorClaim::describe(const QString& serverAddressPort) const
{
    return QStringLiteral("The server %1 is monitored by %2 on %3 (process %4) since %5.")
        .arg(serverAddressPort, program, host)
        .arg(pid)
        .arg(started.toUTC().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")));
}

bool IsClaimedByAnother(const QString& message)
{
    static const QRegularExpression words(
        QStringLiteral("^The server \\S+ is monitored by .+ on .+ \\(process \\d+\\) since .+\\.$"
                       "|^The claim on the server \\S+ was taken over\\.$"));
    return words.match(message).hasMatch();
}

std::optional<MonitorClaim> ReadClaim(const QSqlDatabase& db, int server)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT PROGRAM, HOST, PID, STARTED, RENEWED, SCANTIME FROM MONITOR_CLAIM "
                                         "WHERE ID = %1")
                              .arg(server));
    if (!q.next())
        return std::nullopt;
    MonitorClaim claim;
    claim.program = q.value(0).toString();
    claim.host = q.value(1).toString();
    claim.pid = q.value(2).toLongLong();
    claim.started = readUtc(q.value(3));
    claim.renewed = readUtc(q.value(4));
    claim.scanTime = q.value(5).toInt();
    return claim;
}

std::optional<ServerState> ReadServerState(const QSqlDatabase& db, int server)
{
    QSqlQuery q = run(db, QStringLiteral("SELECT POLLED, POLL_ERROR, HOSTNAME, GAMETYPE, PLAYERCOUNT, CURMAP, NEXTMAP, "
                                         "PLAYERS, MAXPLAYERS, PING_MEDIAN FROM SERVER_STATE WHERE ID = %1")
                              .arg(server));
    if (!q.next())
        return std::nullopt;
    ServerState state;
    state.polled = readUtc(q.value(0));
    state.pollError = q.value(1).toString();
    state.hostName = q.value(2).toString();
    state.gameType = q.value(3).toString();
    state.playerCount = q.value(4).toString();
    state.curMap = q.value(5).toString();
    state.nextMap = q.value(6).toString();
    state.players = q.value(7).toInt();
    state.maxPlayers = q.value(8).toInt();
    state.pingMedian = q.value(9).isNull() ? -1 : q.value(9).toInt();
    return state;
}

MonitorIdentity MonitorIdentity::current()
{
    return {QFileInfo(QCoreApplication::applicationFilePath()).fileName(), QSysInfo::machineHostName(),
            QCoreApplication::applicationPid()};
}

bool MonitorIdentity::holds(const MonitorClaim& claim) const
{
    return claim.program == program && claim.host == host && claim.pid == pid;
}

MonitorClaim TakeClaim(QSqlDatabase& db, int server, const MonitorIdentity& me, int scanTime, const QString& serverAddressPort,
                       const QDateTime& nowUtc, const std::function<void(const QString&)>& log)
{
    beginFresh(db);
    const std::optional<MonitorClaim> held = ReadClaim(db, server);
    const bool ended = held && endedHere(*held, me);
    if (held && !me.holds(*held) && !held->staleAt(nowUtc) && !ended) {
        rollBackAndContinue(db);
        throw Error(held->describe(serverAddressPort));
    }
    const MonitorClaim mine{me.program, me.host, me.pid, nowUtc.toUTC(), nowUtc.toUTC(), scanTime};
    const QVariantList values{mine.program, mine.host, mine.pid, utcStamp(mine.started), utcStamp(mine.renewed),
                              scanTime};
    try {
        if (held) {
            // Written over the row as this snapshot saw it: a monitor that
            // took it meanwhile makes this fail rather than be overwritten.
            run(db,
                QStringLiteral("UPDATE MONITOR_CLAIM SET PROGRAM = ?, HOST = ?, PID = ?, STARTED = ?, RENEWED = ?, "
                               "SCANTIME = ? WHERE ID = %1")
                    .arg(server),
                values);
        } else {
            run(db,
                QStringLiteral("INSERT INTO MONITOR_CLAIM (ID, PROGRAM, HOST, PID, STARTED, RENEWED, SCANTIME) "
                               "VALUES (%1, ?, ?, ?, ?, ?, ?)")
                    .arg(server),
                values);
        }
        commitAndContinue(db);
    } catch (const Error&) {
        // Two monitors starting at once: the one that committed first holds it.
        rollBackAndContinue(db);
        const std::optional<MonitorClaim> winner = ReadClaim(db, server);
        if (winner && !me.holds(*winner))
            throw Error(winner->describe(serverAddressPort));
        throw;
    }
    if (held && !me.holds(*held))
        log(QStringLiteral("Took over the %1 claim of %2 on %3 (process %4), last renewed %5")
                .arg(ended ? QStringLiteral("ended process's") : QStringLiteral("stale"), held->program, held->host)
                .arg(held->pid)
                .arg(held->renewed.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"))));
    return mine;
}

void ReleaseClaim(QSqlDatabase& db, int server, const MonitorIdentity& me)
{
    beginFresh(db);
    try {
        run(db, QStringLiteral("DELETE FROM MONITOR_CLAIM WHERE ") + ownerCondition(server), ownerValues(me));
        commitAndContinue(db);
    } catch (const Error&) {
        rollBackAndContinue(db);
        throw;
    }
}

bool StorePoll(QSqlDatabase& db, int server, const MonitorIdentity& me, int scanTime, const ServerState& state)
{
    beginFresh(db);
    try {
        QVariantList renewal{utcStamp(state.polled), scanTime};
        renewal << ownerValues(me);
        const QSqlQuery renewed = run(
            db, QStringLiteral("UPDATE MONITOR_CLAIM SET RENEWED = ?, SCANTIME = ? WHERE ") + ownerCondition(server), renewal);
        if (renewed.numRowsAffected() != 1) {
            rollBackAndContinue(db);
            return false;
        }
        const auto text = [](const QString& value, int width) {
            return value.isEmpty() ? QVariant(QMetaType(QMetaType::QString)) : QVariant(value.left(width));
        };
        run(db,
            QStringLiteral("UPDATE OR INSERT INTO SERVER_STATE (ID, POLLED, POLL_ERROR, HOSTNAME, GAMETYPE, PLAYERCOUNT, "
                           "CURMAP, NEXTMAP, PLAYERS, MAXPLAYERS, PING_MEDIAN) "
                           "VALUES (%1, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?) MATCHING (ID)")
                .arg(server),
            {utcStamp(state.polled), text(state.pollError, 1000), text(state.hostName, 100), text(state.gameType, 100),
             text(state.playerCount, 20), text(state.curMap, 100), text(state.nextMap, 100), state.players,
             state.maxPlayers,
             state.pingMedian < 0 ? QVariant(QMetaType(QMetaType::Int)) : QVariant(state.pingMedian)});
        commitAndContinue(db);
    } catch (const Error&) {
        rollBackAndContinue(db);
        throw;
    }
    return true;
}

}  // namespace palisor
