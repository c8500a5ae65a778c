#pragma once

#include <QString>

namespace palisor {

// Readies the data folder of an installed copy or a service before anything
// opens it: makes the folder, private to the user since the database holds
// the remote-console password; makes it the working folder; and readies the
// database engine to share the folder's database with the other programs on
// it (ShareDataFolderEngine).
// Throws Error "No space left on device" when the data folder or the engine's
// lock folder has less than MinimumFreeSpace free.
void PrepareDataFolder(const QString& dataFolder);

// Room for the engine's lock tables, a first upgrade and some polls.
inline constexpr unsigned long long MinimumFreeSpace = 4ull * 1024 * 1024;
// Throws Error "No space left on device" when the folder's disk has less than
// MinimumFreeSpace available; a folder that cannot be asked is let pass.
void RequireFreeSpace(const QString& folder);

// Makes PALISOR.GDB in dataFolder from the schema file, with the settings at
// their defaults or with the given remote-console password, unless the folder
// holds it already or holds a PALISOR.BKP (start-up puts that back instead).
// True when it made one; throws Error when isql-fb fails.
bool CreateMissingDatabase(const QString& dataFolder, const QString& schemaFile,
                           const QString& rconPassword = QString());

// Makes a database on a Firebird server from the schema file, with the
// settings at their defaults; the user needs the right to create databases
// there. Throws Error with what the server said (an existing database
// included: it is never replaced).
void CreateServerDatabase(const QString& location, const QString& user, const QString& password, const QString& schemaFile);

}  // namespace palisor
