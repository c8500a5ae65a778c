#pragma once

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <functional>
#include <optional>

namespace palisor {

// Each game server is monitored by one program at a time, whichever process
// and host it runs on; its claim in MONITOR_CLAIM (ID: the server's
// SERVERS.ID) says which. The functions below take that number.
struct MonitorClaim {
    QString program, host;
    qint64 pid = 0;
    QDateTime started, renewed;   // UTC
    int scanTime = 0;
    // A monitor renews its claim at every poll; one not renewed for three
    // scan times plus a minute has ended without releasing it.
    bool staleAt(const QDateTime& nowUtc) const;
    // "The server ADDRESS:PORT is monitored by PROGRAM on HOST (process N) since TIME."
    QString describe(const QString& serverAddressPort) const;
};

// What the monitor's last poll showed.
struct ServerState {
    QDateTime polled;   // UTC; invalid: never polled
    QString pollError;  // empty: the last poll succeeded
    QString hostName, gameType, playerCount, curMap, nextMap;
    int players = 0, maxPlayers = 0, pingMedian = -1;
};

// Whether an error is a monitor's refusal to start, or to go on, because
// another monitor holds the claim (the words of MonitorClaim::describe), or
// took it over and has already let it go.
bool IsClaimedByAnother(const QString& message);

// Nothing when the server is not claimed (or the database predates claims).
std::optional<MonitorClaim> ReadClaim(const QSqlDatabase& db, int server);
// Whether a claim still keeps other monitors off the server: it is fresh and
// was not left by a process of this host that has ended.
bool KeepsOthersOff(const MonitorClaim& claim, const QDateTime& nowUtc);
// Nothing when no monitor has stored a poll yet.
std::optional<ServerState> ReadServerState(const QSqlDatabase& db, int server);

// Who a monitor is: a program is told apart by its host and process.
struct MonitorIdentity {
    QString program, host;
    qint64 pid = 0;
    // This process: its executable's name, the machine's host name, its id.
    static MonitorIdentity current();
    bool holds(const MonitorClaim& claim) const;
};

// The writes below each run in a transaction of their own on a fresh
// snapshot and commit at once, so a claim never waits behind a long one;
// the connection is left in a new transaction, as the data module keeps it.

// Takes the claim for `me`, or takes over a stale one, or one of a process
// on this host that has ended (told to `log`).
// Throws palisor::Error with MonitorClaim::describe when another monitor
// holds it, including one that raced this call and committed first.
MonitorClaim TakeClaim(QSqlDatabase& db, int server, const MonitorIdentity& me, int scanTime, const QString& serverAddressPort,
                       const QDateTime& nowUtc, const std::function<void(const QString&)>& log);
// Gives the claim up if `me` still holds it.
void ReleaseClaim(QSqlDatabase& db, int server, const MonitorIdentity& me);
// Stores a poll's outcome and renews the claim, in one commit. Returns false,
// storing nothing, when `me` no longer holds the claim (another monitor took
// it over as stale).
bool StorePoll(QSqlDatabase& db, int server, const MonitorIdentity& me, int scanTime, const ServerState& state);

}  // namespace palisor
