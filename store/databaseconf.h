#pragma once

#include <QString>

namespace palisor {

// Where a data folder's database is: its own embedded PALISOR.GDB (the
// default), or a database on a Firebird server that programs on several
// machines share. Kept in database.conf in the data folder, section
// [Database], read by every program on the folder:
//
//   [Database]
//   Location = dbhost/3050:/var/lib/firebird/data/palisor.fdb
//   User = palisor
//   PasswordFile = /etc/palisor/database.password
//
// The password is never in database.conf itself, only in a file nobody but
// its owner may read.
struct DatabaseConf {
    QString location;       // empty: the embedded file
    QString user;
    QString passwordFile;   // relative to the data folder unless absolute

    bool onServer() const { return !location.isEmpty(); }
    bool operator==(const DatabaseConf&) const = default;
};

inline constexpr char DatabaseConfName[] = "database.conf";

// The folder's database.conf; without one, the embedded file. Throws Error
// naming the file and line when it cannot be read or makes no sense.
DatabaseConf ReadDatabaseConf(const QString& dataFolder);
// Replaces the folder's database.conf as a whole (never half written), with
// the mode of the folder's other files. Throws Error.
void WriteDatabaseConf(const QString& dataFolder, const DatabaseConf& conf);

// The password file as the folder's programs find it.
QString PasswordFilePath(const QString& dataFolder, const DatabaseConf& conf);
// The first line of a password file, refused with a message saying why when
// group or others may read or write it (0600 or stricter is asked for).
QString ReadDatabasePassword(const QString& passwordFile);

// A server location's host, for messages: "dbhost/3050" of
// "dbhost/3050:/path".
QString LocationHost(const QString& location);

// What the engine, isql-fb or gbak said when a server refused a connection,
// with the engine's words for an unencrypted server replaced by what to do
// about it: this side always asks for encryption (see UseEngineRoot).
QString ServerRefusal(const QString& location, const QString& said);

}  // namespace palisor
