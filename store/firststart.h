#pragma once

#include <QString>

namespace palisor {

// Readies the data folder of an installed copy or a service before anything
// opens it: makes the folder, private to the user since the database holds
// the remote-console password; makes it the working folder; and gives the
// database engine lock files of this user's own (the engine's shared default
// folder belongs to whoever used it first, and refuses everybody else).
void PrepareDataFolder(const QString& dataFolder);

// Makes PALISOR.GDB in dataFolder from the schema file, with the settings at
// their defaults or with the given remote-console password, unless the folder
// holds it already or holds a PALISOR.BKP (start-up puts that back instead).
// True when it made one; throws Error when isql-fb fails.
bool CreateMissingDatabase(const QString& dataFolder, const QString& schemaFile,
                           const QString& rconPassword = QString());

}  // namespace palisor
