// The immune, illegal-name, map-alias, announcement and recent lists.
#include "ctl/commands.h"
#include "ctl/session.h"
#include "store/datapalisor.h"
#include "store/ruleindexes.h"
#include "store/sqltext.h"

namespace palisor::ctl {

using namespace palisor::sql;

namespace {

LiveTable& nameTable(TDataPalisor& data, const QString& list)
{
    if (list == QLatin1String("immune"))
        return *data.tblImmune;
    if (list == QLatin1String("illegal"))
        return *data.tblIllegal;
    throw UsageError(QStringLiteral("Unknown list \"%1\"").arg(list));
}

QString textOf(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

// The rows of a list in the order its window shows them, one value list per
// row with the row's locator first.
QList<QVariantList> rows(const LiveTable& table, const QStringList& columns)
{
    QList<QVariantList> found;
    table.visitStoredRows(columns, [&found](int, quint64 key, const QVariantList& values) {
        found.append(QVariantList{key} + values);
    });
    return found;
}

// The stored rows whose column equals the text as the list's rules compare
// names: letter case and trailing blanks ignored.
QList<quint64> matching(const LiveTable& table, const QString& column, const QString& text)
{
    const QString key = RuleIndexes::caseBlindKey(withoutTrailingBlanks(text));
    QList<quint64> keys;
    for (const QVariantList& row : rows(table, {column})) {
        if (RuleIndexes::caseBlindKey(withoutTrailingBlanks(textOf(row[1]))) == key)
            keys << row[0].toULongLong();
    }
    return keys;
}

void execute(TDataPalisor& data, const QString& statement, const QVariantList& values)
{
    QSqlDatabase db = data.database();
    run(db, statement, values);
    commitAndContinue(db);
}

void removeRows(TDataPalisor& data, LiveTable& table, const QList<quint64>& keys)
{
    QSqlDatabase db = data.database();
    for (const quint64 key : keys)
        run(db, QStringLiteral("DELETE FROM %1 WHERE %2").arg(quoted(table.tableName()), keyCondition()), {keyText(key)});
    commitAndContinue(db);
}

}  // namespace

QString NameList(TDataPalisor& data, const QString& list)
{
    QStringList lines;
    for (const QVariantList& row : rows(nameTable(data, list), {QStringLiteral("NAME")}))
        lines << textOf(row[1]);
    return Lines(lines);
}

void NameAdd(TDataPalisor& data, const QString& list, const QString& name)
{
    LiveTable& table = nameTable(data, list);
    const QString entry = CheckedEntry(table, QStringLiteral("NAME"), name, list);
    if (!matching(table, QStringLiteral("NAME"), entry).isEmpty())
        return;
    execute(data, QStringLiteral("INSERT INTO %1 (NAME) VALUES (?)").arg(quoted(table.tableName())), {entry});
}

void NameRemove(TDataPalisor& data, const QString& list, const QString& name)
{
    LiveTable& table = nameTable(data, list);
    const QList<quint64> keys = matching(table, QStringLiteral("NAME"), name);
    if (keys.isEmpty())
        throw Error(QStringLiteral("\"%1\" is not on the %2 list").arg(name, list));
    removeRows(data, table, keys);
}

QString AliasList(TDataPalisor& data)
{
    QStringList lines;
    for (const QVariantList& row : rows(*data.tblMapAlias, {QStringLiteral("MAPNAME"), QStringLiteral("ALIAS")}))
        lines << textOf(row[1]) + QLatin1Char('\t') + textOf(row[2]);
    return Lines(lines);
}

void AliasAdd(TDataPalisor& data, const QString& mapName, const QString& alias)
{
    LiveTable& table = *data.tblMapAlias;
    const QString map = CheckedEntry(table, QStringLiteral("MAPNAME"), mapName, QStringLiteral("alias"));
    const QString shown = CheckedEntry(table, QStringLiteral("ALIAS"), alias, QStringLiteral("alias"));
    const QList<quint64> keys = matching(table, QStringLiteral("MAPNAME"), map);
    if (keys.isEmpty()) {
        execute(data, QStringLiteral("INSERT INTO MAPALIAS (MAPNAME, ALIAS) VALUES (?, ?)"), {map, shown});
        return;
    }
    QSqlDatabase db = data.database();
    for (const quint64 key : keys)
        run(db, QStringLiteral("UPDATE MAPALIAS SET ALIAS = ? WHERE ") + keyCondition(), {shown, keyText(key)});
    commitAndContinue(db);
}

void AliasRemove(TDataPalisor& data, const QString& mapName)
{
    const QList<quint64> keys = matching(*data.tblMapAlias, QStringLiteral("MAPNAME"), mapName);
    if (keys.isEmpty())
        throw Error(QStringLiteral("The map \"%1\" has no alias").arg(mapName));
    removeRows(data, *data.tblMapAlias, keys);
}

namespace {

// The announcements in the order they are sent: SEQ, then as stored.
QList<QVariantList> announcements(TDataPalisor& data)
{
    QList<QVariantList> found;
    QSqlQuery q = run(data.database(), QStringLiteral("SELECT %1, SEQ, ANNOUNCEMENT FROM MESSAGES "
                                                      "ORDER BY SEQ NULLS LAST, RDB$DB_KEY")
                                           .arg(keySelectExpression()));
    while (q.next())
        found.append({keyText(parseKey(q.value(0).toString())), q.value(1), q.value(2)});
    return found;
}

void requirePosition(const QList<QVariantList>& rows, int position)
{
    if (position < 1 || position > rows.size())
        throw Error(QStringLiteral("There is no announcement %1 (the list has %2)").arg(position).arg(rows.size()));
}

}  // namespace

QString AnnounceList(TDataPalisor& data)
{
    QStringList lines;
    const QList<QVariantList> rows = announcements(data);
    for (int i = 0; i < rows.size(); ++i)
        lines << QStringLiteral("%1\t%2").arg(i + 1).arg(textOf(rows[i][2]));
    return Lines(lines);
}

void AnnounceAdd(TDataPalisor& data, const QString& text)
{
    const QString entry = CheckedEntry(*data.tblMessages, QStringLiteral("ANNOUNCEMENT"), text, QStringLiteral("announcement"));
    // The database numbers it after the last one.
    execute(data, QStringLiteral("INSERT INTO MESSAGES (ANNOUNCEMENT) VALUES (?)"), {entry});
}

void AnnounceRemove(TDataPalisor& data, int position)
{
    const QList<QVariantList> rows = announcements(data);
    requirePosition(rows, position);
    execute(data, QStringLiteral("DELETE FROM MESSAGES WHERE ") + keyCondition(), {rows[position - 1][0]});
}

void AnnounceMove(TDataPalisor& data, int from, int to)
{
    QList<QVariantList> rows = announcements(data);
    requirePosition(rows, from);
    requirePosition(rows, to);
    rows.move(from - 1, to - 1);
    // Numbered anew from 1, in one commit, so the rotation never sees half
    // a move.
    QSqlDatabase db = data.database();
    for (int i = 0; i < rows.size(); ++i)
        run(db, QStringLiteral("UPDATE MESSAGES SET SEQ = ? WHERE ") + keyCondition(), {i + 1, rows[i][0]});
    commitAndContinue(db);
}

QString RecentList(TDataPalisor& data, const QString& grep, const std::optional<QDateTime>& since)
{
    QString statement = QStringLiteral("SELECT NAME, ADDRESS, LASTSEEN FROM RECENT WHERE 1 = 1");
    QVariantList values;
    if (!grep.isEmpty()) {
        statement += QStringLiteral(" AND (NAME CONTAINING ? OR ADDRESS CONTAINING ?)");
        values << grep << grep;
    }
    if (since) {
        statement += QStringLiteral(" AND LASTSEEN >= ?");
        values << *since;
    }
    QSqlQuery q = run(data.database(), statement + QStringLiteral(" ORDER BY LASTSEEN, NAME"), values);
    QStringList lines;
    while (q.next())
        lines << QStringLiteral("%1\t%2\t%3").arg(textOf(q.value(0)), textOf(q.value(1)),
                                               q.value(2).toDateTime().toString(Qt::ISODate));
    return Lines(lines);
}

}  // namespace palisor::ctl
