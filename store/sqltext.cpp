#include "store/sqltext.h"

#include "core/error.h"

#include <QDateTime>

namespace palisor::sql {

QString keySelectExpression() { return QStringLiteral("UUID_TO_CHAR(RDB$DB_KEY || x'0000000000000000')"); }

QString keyCondition()
{
    return QStringLiteral("RDB$DB_KEY = CAST(LEFT(CHAR_TO_UUID(CAST(? AS CHAR(36))), 8) AS CHAR(8) CHARACTER SET OCTETS)");
}

quint64 parseKey(const QString& uuidText)
{
    QString hex = uuidText;
    hex.remove(QLatin1Char('-'));
    bool ok = false;
    const quint64 key = hex.left(16).toULongLong(&ok, 16);
    if (!ok || key == 0)
        throw Error(QStringLiteral("Unreadable row key \"%1\"").arg(uuidText));
    return key;
}

QString keyText(quint64 key)
{
    const QString hex = QStringLiteral("%1").arg(key, 16, 16, QLatin1Char('0')).toUpper();
    return hex.left(8) + QLatin1Char('-') + hex.mid(8, 4) + QLatin1Char('-') + hex.mid(12, 4)
           + QStringLiteral("-0000-000000000000");
}

QString quoted(const QString& identifier)
{
    QString inner = identifier;
    inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString errorText(const QSqlError& error)
{
    const QString engine = error.databaseText().trimmed();
    return engine.isEmpty() ? error.text().trimmed() : engine;
}

QSqlQuery run(const QSqlDatabase& db, const QString& statement, const QVariantList& values)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(statement))
        throw Error(errorText(query.lastError()));
    for (const QVariant& v : values)
        query.addBindValue(v);
    if (!query.exec())
        throw Error(errorText(query.lastError()));
    return query;
}

void commitAndContinue(QSqlDatabase& db)
{
    const bool committed = db.commit();
    const QSqlError failure = db.lastError();
    db.transaction();
    if (!committed)
        throw Error(QStringLiteral("Unable to commit transaction: ") + errorText(failure));
}

QString withoutTrailingBlanks(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.left(end);
}

int compareValues(const QVariant& a, const QVariant& b)
{
    if (a.isNull() && b.isNull())
        return 0;
    if (a.isNull())
        return -1;
    if (b.isNull())
        return 1;
    if (a.metaType().id() == QMetaType::QString || b.metaType().id() == QMetaType::QString) {
        const int c = withoutTrailingBlanks(a.toString()).compare(withoutTrailingBlanks(b.toString()));
        return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    const QPartialOrdering order = QVariant::compare(a, b);
    if (order == QPartialOrdering::Less)
        return -1;
    if (order == QPartialOrdering::Greater)
        return 1;
    return 0;
}

}  // namespace palisor::sql
