#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace palisor::ctl {

// Where the data folder's database is (database.conf): commands that work on
// the folder rather than on an open database.

// location=, user=, password-file= and, for the embedded file, embedded=.
QString DatabaseShow(const QString& dataFolder);
// "location=HOST[/PORT]:PATH" (empty: the embedded file) and "user=NAME";
// passwordFile is a 0600 file holding the password, or "-" for standard
// input (kept in the folder's database.password), or empty to keep the one
// configured. A server location is tried before anything is written: a
// refused login or an unreachable host changes nothing; a database not made
// yet is written down, and said to be missing.
QString DatabaseSet(const QString& dataFolder, const QStringList& assignments, const QString& passwordFile);
// Makes the configured database from the schema file.
QString DatabaseCreate(const QString& dataFolder, const QString& schemaFile);
// An online backup of the configured server database into file, a path on
// the database host that the server writes, through the server's service
// manager (gbak), with nothing stopped; refused for the embedded file, which
// its maintenance cycle keeps copies of. Throws Error with what gbak said.
QString DatabaseBackup(const QString& dataFolder, const QString& file);
// Copies every row of the lists, the settings and the history of an embedded
// data folder's database into the configured server database, just made, in
// one transaction; the counts per table, for printing. On any failure
// nothing is imported.
QString DatabaseImport(const QString& dataFolder, const QString& sourceFolder);

// The "database" commands' words, and the command chosen among them, which
// is given the data folder.
struct DatabaseArguments {
    std::vector<std::string> assignments;
    std::string passwordFile;
    std::string sourceFolder;
    std::string backupFile;
};
using FolderCommand = std::function<QString(const QString& dataFolder)>;
void AddDatabaseCommands(CLI::App& app, DatabaseArguments& a, FolderCommand& chosen);

}  // namespace palisor::ctl
