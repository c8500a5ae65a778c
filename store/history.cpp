// The penalty log and the server's samples: recording them for the monitor
// and the actions, reading them for the History window.

#include "store/history.h"

#include "core/error.h"
#include "store/datapalisor.h"
#include "store/sqltext.h"

#include <QSqlQuery>
#include <algorithm>
#include <limits>

namespace palisor {

using namespace palisor::sql;

namespace {

// Declared lengths of the log's columns.
constexpr int SourceLength = 16;
constexpr int ReasonLength = 250;
constexpr int ClientIdLength = 9;
constexpr int NameLength = 40;
constexpr int AddressLength = 16;
constexpr int MapNameLength = 64;

// The log's text columns are Latin-1, as the game server's names are; a
// typed reason may hold more, which is kept as '?' instead of failing the
// ban or the kick it belongs to. Empty texts are stored as NULL.
QVariant column(const QString& text, int length)
{
    if (text.isEmpty())
        return QVariant(QMetaType::fromType<QString>());
    QString fitted = text.left(length);
    for (QChar& c : fitted) {
        if (c.unicode() > 0xFF)
            c = QLatin1Char('?');
    }
    return fitted;
}

QString textOf(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

}  // namespace

QVariant MedianPing(QList<int> pings)
{
    if (pings.isEmpty())
        return QVariant(QMetaType::fromType<int>());
    std::sort(pings.begin(), pings.end());
    const qsizetype mid = pings.size() / 2;
    if (pings.size() % 2 == 1)
        return pings[mid];
    return (pings[mid - 1] + pings[mid] + 1) / 2;
}

QVariant HighestPing(const QList<int>& pings)
{
    if (pings.isEmpty())
        return QVariant(QMetaType::fromType<int>());
    return *std::max_element(pings.begin(), pings.end());
}

void TDataPalisor::SetPenaltyContext(const Penalty* why)
{
    // The values are Latin-1 before they reach the context, so the trigger
    // copies the same bytes into BANNED and EVENTS.
    const Penalty none{QString(), QString(), QString()};
    const Penalty& p = why ? *why : none;
    // The values are set as the row is fetched.
    QSqlQuery set = run(database(),
        QStringLiteral("SELECT RDB$SET_CONTEXT('USER_TRANSACTION', 'PALISOR_SOURCE', "
                       "CAST(? AS VARCHAR(16) CHARACTER SET ISO8859_1)), "
                       "RDB$SET_CONTEXT('USER_TRANSACTION', 'PALISOR_REASON', "
                       "CAST(? AS VARCHAR(250) CHARACTER SET ISO8859_1)), "
                       "RDB$SET_CONTEXT('USER_TRANSACTION', 'PALISOR_CLIENTID', "
                       "CAST(? AS VARCHAR(9) CHARACTER SET ISO8859_1)) FROM RDB$DATABASE"),
        {column(p.source, SourceLength), column(p.reason, ReasonLength), column(p.clientId, ClientIdLength)});
    set.next();
}

void TDataPalisor::RecordEvent(const QString& kind, const Penalty& why, const QString& name, const QString& address)
{
    if (!HasHistory())
        return;
    QSqlDatabase db = database();
    run(db,
        QStringLiteral("INSERT INTO EVENTS (KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE) VALUES (?, ?, ?, ?, ?, ?)"),
        {kind, column(why.clientId, ClientIdLength), column(FixQuotes(name), NameLength),
         column(address, AddressLength), column(why.reason, ReasonLength), column(why.source, SourceLength)});
    commitAndContinue(db);
}

void TDataPalisor::RecordSample(const ServerSample& sample)
{
    if (!HasHistory())
        return;
    QSqlDatabase db = database();
    run(db, QStringLiteral("EXECUTE PROCEDURE ADD_SAMPLE(?, ?, ?, ?, ?, ?)"),
        {sample.taken, sample.playerCount, sample.maxPlayers, column(sample.mapName, MapNameLength),
         sample.medianPing, sample.highPing});
    commitAndContinue(db);
}

namespace {

// The WHERE clause of a look at the penalty log, with its values.
QString eventFilter(const QString& text, const QString& kind, QVariantList& values)
{
    QStringList conditions;
    if (!text.isEmpty()) {
        conditions << QStringLiteral("(NAME CONTAINING ? OR ADDRESS CONTAINING ?)");
        values << column(text, ReasonLength) << column(text, ReasonLength);
    }
    if (!kind.isEmpty()) {
        conditions << QStringLiteral("KIND = ?");
        values << kind;
    }
    return conditions.isEmpty() ? QString() : QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
}

}  // namespace

QList<PenaltyEvent> ReadEvents(const QSqlDatabase& db, const QString& text, const QString& kind, int limit)
{
    QVariantList values;
    if (limit > 0)
        values << limit;
    const QString where = eventFilter(text, kind, values);
    QSqlQuery q = run(db,
                      QStringLiteral("SELECT %1OCCURRED, KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE FROM EVENTS")
                              .arg(limit > 0 ? QStringLiteral("FIRST ? ") : QString())
                          + where + QStringLiteral(" ORDER BY ID DESC"),
                      values);
    QList<PenaltyEvent> events;
    while (q.next()) {
        events.append({q.value(0).toDateTime(), textOf(q.value(1)), textOf(q.value(2)), textOf(q.value(3)),
                       textOf(q.value(4)), textOf(q.value(5)), textOf(q.value(6))});
    }
    return events;
}

int CountEvents(const QSqlDatabase& db, const QString& text, const QString& kind)
{
    QVariantList values;
    const QString where = eventFilter(text, kind, values);
    QSqlQuery q = run(db, QStringLiteral("SELECT COUNT(*) FROM EVENTS") + where, values);
    return q.next() ? q.value(0).toInt() : 0;
}

QList<SampleStretch> ReadSampleStretches(const QSqlDatabase& db, const QDateTime& from, int stretchSeconds)
{
    // Stretches of ten minutes or more are made of the ten-minute spans;
    // shorter ones of the samples themselves. Times come as local
    // milliseconds since 1970, each turned into a moment with the zone's
    // offset of its hour.
    static const QString fromSamples = QStringLiteral(
        "SELECT DATEDIFF(SECOND FROM CAST(? AS TIMESTAMP) TO TAKEN) / CAST(? AS INTEGER) AS STRETCH, "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(TAKEN)), COUNT(*), "
        "MIN(PLAYERCOUNT), MAX(PLAYERCOUNT), MIN(MEDIANPING), MAX(MEDIANPING), MAX(MAXPLAYERS), "
        "SUM(NEWMAP), MAX(IIF(NEWMAP = 1, MAPNAME, NULL)), "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(IIF(NEWMAP = 1, TAKEN, NULL))) "
        "FROM SAMPLES WHERE TAKEN >= ? GROUP BY 1 ORDER BY 1");
    static const QString fromSpans = QStringLiteral(
        "SELECT DATEDIFF(SECOND FROM CAST(? AS TIMESTAMP) TO SPANSTART) / CAST(? AS INTEGER) AS STRETCH, "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(FIRSTTAKEN)), SUM(POLLS), "
        "MIN(FEWESTPLAYERS), MAX(MOSTPLAYERS), MIN(LOWESTPING), MAX(HIGHESTPING), MAX(MAXPLAYERS), "
        "SUM(NEWMAPS), MAX(NEWMAP), "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(MAPCHANGED)) "
        "FROM SAMPLESPANS WHERE SPANSTART >= ? GROUP BY 1 ORDER BY 1");
    QSqlQuery q = run(db, stretchSeconds >= SpanSeconds ? fromSpans : fromSamples,
                      {from, qMax(1, stretchSeconds), from});
    constexpr qint64 hourMs = 3'600'000;
    qint64 hour = std::numeric_limits<qint64>::min();
    qint64 offsetMs = 0;
    const auto moment = [&](const QVariant& localMs) {
        if (localMs.isNull())
            return QDateTime();
        const qint64 ms = localMs.toLongLong();
        if (ms / hourMs != hour) {
            hour = ms / hourMs;
            const QDateTime wall = QDateTime::fromMSecsSinceEpoch(hour * hourMs, Qt::UTC);
            offsetMs = qint64(QDateTime(wall.date(), wall.time()).offsetFromUtc()) * 1000;
        }
        return QDateTime::fromMSecsSinceEpoch(ms - offsetMs, Qt::UTC);
    };
    QList<SampleStretch> stretches;
    while (q.next()) {
        stretches.append({moment(q.value(1)), q.value(2).toInt(), q.value(3).toInt(), q.value(4).toInt(),
                          q.value(5), q.value(6), q.value(7).toInt(), q.value(8).toInt(), textOf(q.value(9)),
                          moment(q.value(10))});
    }
    return stretches;
}

}  // namespace palisor
