#pragma once

#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

namespace palisor {

// One statement of the upgrade script, and how to tell that the object it
// makes is there already.
struct UpgradeStep {
    QString statement;
    QString existsQuery;     // counts the catalogue rows of the object
    QVariantList existsKeys; // bound to existsQuery
};

// Cuts an isql-style script (SET TERM, comments) into its steps. SET and
// COMMIT statements carry no object and are left out; any other statement
// that is not a table, column, index, sequence, trigger or procedure made anew throws
// palisor::Error naming it.
QList<UpgradeStep> ParseUpgradeScript(const QString& script);

// Runs the steps whose objects are missing, each committed on its own, on a
// connection with no transaction running. Returns how many ran; throws
// palisor::Error with the engine's message when one fails.
int ApplyUpgrade(QSqlDatabase& db, const QList<UpgradeStep>& steps);

// The script of the penalty log and the samples (store/history.sql).
QString HistoryScript();
// The script of the log of name changes in BANNED and RECENT
// (store/namechanges.sql).
QString NameChangesScript();

}  // namespace palisor
