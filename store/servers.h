#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <optional>

namespace palisor {

// A game server of the database as the list of servers shows it.
struct ServerEntry {
    int id = 0;
    QString name;
    QString address, port;   // as stored in its settings row
    QString scanTime, maxPing;
    bool hasPassword = false;
    QString addressPort() const { return address + QLatin1Char(':') + port; }
};

// The longest name a server may have (SERVERS.NAME).
inline constexpr int ServerNameLength = 40;

// The name as stored: the typed name without leading and trailing blanks;
// palisor::Error naming it when it is empty, longer than 40 characters or
// holds a character outside Latin-1 or below a blank.
QString CheckedServerName(const QString& typed);

// The servers of a database, in the order they were added. Each call reads
// in the connection's running transaction; the changes below commit on their
// own and leave a new transaction running, as the data module keeps it.
QList<ServerEntry> ReadServers(const QSqlDatabase& db);
// The server of that name, told apart without regard to case.
std::optional<ServerEntry> FindServer(const QSqlDatabase& db, const QString& name);

// A new server with the working defaults of a new database (scan time 30,
// max ping 250, announcements off, no console password: not polled until
// it has one); its number. palisor::Error, nothing changed, for a bad name
// or one another server has (whatever its case), an address that is neither
// an IPv4 address nor a host name, or a port outside 1-65535.
int AddServer(QSqlDatabase& db, const QString& name, const QString& address, const QString& port);
// palisor::Error, nothing changed, for a bad name or one another server has.
void RenameServer(QSqlDatabase& db, int id, const QString& newName);
// Removes the server with its settings, players, samples, last poll and the
// announcements for it alone; its penalty-log rows stay, and recent players
// last seen there keep their rows. palisor::Error, nothing changed, while a
// program monitors it (a claim that still keeps others off) or when it is
// the only server.
void RemoveServer(QSqlDatabase& db, int id);

}  // namespace palisor
