#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>
#include <QVariantList>

namespace palisor::sql {

// Firebird addresses a stored row by its RDB$DB_KEY, which stays with the row
// for as long as it exists. The key travels as the first 16 hex digits of a
// UUID text because the driver cannot bind raw octets.
QString keySelectExpression();
QString keyCondition();   // "RDB$DB_KEY = <the bound key text>"
quint64 parseKey(const QString& uuidText);
QString keyText(quint64 key);

QString quoted(const QString& identifier);

// The engine's own words for a failed statement.
QString errorText(const QSqlError& error);

// Prepares and runs a statement with bound values; throws palisor::Error with
// the engine's message when it fails.
QSqlQuery run(const QSqlDatabase& db, const QString& statement, const QVariantList& values = {});

// Commits the connection's transaction and starts the next one at once, so
// every change is durable the moment it is made. Throws when the commit fails.
void commitAndContinue(QSqlDatabase& db);

// Text columns compare the way Firebird compares them: trailing blanks do not
// count. NULL sorts before every value.
QString withoutTrailingBlanks(const QString& text);
int compareValues(const QVariant& a, const QVariant& b);

}  // namespace palisor::sql
