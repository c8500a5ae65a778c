#pragma once

#include <QList>
#include <QString>
#include <functional>

namespace palisor {

// One statement of an upgrade script, and how to tell that the object it
// makes is there already.
struct UpgradeStep {
    QString statement;
    // Counts the catalogue rows of the object (for DROP INDEX, 0 while the
    // index is there); the statement runs when the count is 0. Empty for a
    // statement that runs whenever its script does (CREATE OR ALTER, INSERT,
    // UPDATE, DELETE, ALTER TABLE ... ALTER ... TYPE).
    QString existsQuery;
};

// Cuts an isql-style script (SET TERM, comments) into its steps. SET and
// COMMIT statements carry no object and are left out; any other statement
// that is not a table, column, index or sequence made anew, a procedure or
// trigger made with CREATE OR ALTER, or a change of rows throws
// palisor::Error naming it.
QList<UpgradeStep> ParseUpgradeScript(const QString& script);

// The upgrade scripts built into the program (store/upgrades/NN-what.sql),
// each numbered by the schema version it brings a database to, in order.
struct UpgradeScript {
    int version = 0;
    QString name;
    QString text;
};
QList<UpgradeScript> UpgradeScripts();
// The version of the newest script: what store/schema.sql makes.
int LatestSchemaVersion();

// Brings a closed database file to the latest schema version, at most once
// per file in a process: the outcome of the first call is the answer of
// every later one. Each script runs once, each of its statements committed
// on its own, on an attachment of its own that is closed before this
// returns. Before the first script runs, the file is copied to `copy` (when
// the disk has room for it), and the copy is put back if anything fails, or
// at the next call if the process was killed meanwhile. Tells `log` what it
// did; returns whether the database is at the latest version.
bool UpgradeDatabaseFile(const QString& file, const QString& copy, const std::function<void(const QString&)>& log);

// The same for a database on a server, which no copy can be made of here:
// each statement is committed on its own and a script cut short is taken up
// again at the next call. Throws Error, with the server's words, when the
// database cannot be attached at all; a failing script is logged and makes
// the answer false.
bool UpgradeServerDatabase(const QString& location, const QString& user, const QString& password,
                           const std::function<void(const QString&)>& log);

}  // namespace palisor
