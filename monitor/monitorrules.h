#pragma once

#include <QList>
#include <QString>
#include <utility>

namespace palisor {

// Consecutive polls above the maximum ping that lead to a kick: about two
// minutes' worth of polls, rounded half to even, and at least one. Throws
// palisor::Error for a scan time below 1 second.
int StrikeLimit(int scanTimeSeconds);

// The high-ping strikes of the players now above the maximum, in memory only.
// The key is the client number followed directly by the address; keys
// compare without regard to letter case.
class HighPingStrikes {
public:
    // Counts one poll for the player; true when this poll reaches the limit,
    // which also forgets him so a later run starts from zero. A ping at or
    // below the maximum forgets him as well.
    bool Check(const QString& key, qint64 ping, qint64 maxPing, int strikeLimit);
    void Clear() { entries_.clear(); }

private:
    qsizetype find(const QString& key) const;
    QList<std::pair<QString, int>> entries_;
};

// Errors after which polling is pointless until the administrator acts.
bool StopsMonitor(const QString& message);
// Errors that mean the data store lost its tables and must reconnect.
bool NeedsReconnect(const QString& message);

}  // namespace palisor
