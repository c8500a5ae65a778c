// The penalty log and the server's samples: recording them for the monitor
// and the actions, reading them for the History window.

#include "store/history.h"

#include "core/error.h"
#include "core/timing.h"
#include "store/datapalisor.h"
#include "store/outage.h"
#include "store/sqltext.h"

#include <QSqlQuery>
#include <QTimeZone>
#include <algorithm>

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

// The driver stores a time's own date and clock reading: given in UTC, the
// column holds UTC.
QDateTime utcStamp(const QDateTime& at) { return at.toUTC(); }

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

QString CsvField(const QString& text)
{
    // A spreadsheet runs a field that begins with one of these as a formula,
    // so a player named "=HYPERLINK(...)" would become a link: the apostrophe
    // makes it plain text there.
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    QString field = !text.isEmpty() && formulaStarts.contains(text.front()) ? QLatin1Char('\'') + text : text;
    if (!field.contains(QLatin1Char(',')) && !field.contains(QLatin1Char('"')) && !field.contains(QLatin1Char('\r'))
        && !field.contains(QLatin1Char('\n')))
        return field;
    field.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + field + QLatin1Char('"');
}

QVariant HighestPing(const QList<int>& pings)
{
    if (pings.isEmpty())
        return QVariant(QMetaType::fromType<int>());
    return *std::max_element(pings.begin(), pings.end());
}

QVariant TDataPalisor::penaltyServer(const Penalty& why) const
{
    // A penalty on a player in a slot was given on this module's server; a
    // ban typed into the list or imported is no server's.
    return why.clientId.isEmpty() || server_ <= 0 ? QVariant(QMetaType::fromType<int>()) : QVariant(server_);
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
                       "CAST(? AS VARCHAR(9) CHARACTER SET ISO8859_1)), "
                       "RDB$SET_CONTEXT('USER_TRANSACTION', 'PALISOR_SERVER', CAST(? AS INTEGER)) FROM RDB$DATABASE"),
        {column(p.source, SourceLength), column(p.reason, ReasonLength), column(p.clientId, ClientIdLength),
         penaltyServer(p)});
    set.next();
}

void TDataPalisor::SetBanFollowsPlayer(bool follows)
{
    QSqlQuery set = run(database(),
        QStringLiteral("SELECT RDB$SET_CONTEXT('USER_TRANSACTION', 'PALISOR_FOLLOW', ?) FROM RDB$DATABASE"),
        {follows ? QVariant(1) : QVariant(QMetaType::fromType<int>())});
    set.next();
}

void TDataPalisor::RecordEvent(const QString& kind, const Penalty& why, const QString& name, const QString& address)
{
    if (!recordsHistory())
        return;
    KeptEvent event{0, now(), kind, why, name, address};
    writeOrKeep([&] { writeEvent(event, false); }, [&] { kept_->keep(std::move(event)); });
}

void TDataPalisor::writeEvent(KeptEvent& event, bool kept)
{
    QSqlDatabase db = database();
    if (event.id == 0) {
        QSqlQuery next = run(db, QStringLiteral("SELECT NEXT VALUE FOR EVENTS_ID FROM RDB$DATABASE"));
        if (!next.next())
            throw Error(QStringLiteral("The penalty log gave no number for a new row"));
        event.id = next.value(0).toLongLong();
    }
    // A kept row carries the time it happened; one written as it happens
    // takes the database's.
    run(db,
        QStringLiteral("EXECUTE BLOCK (I BIGINT = ?, T TIMESTAMP = ?, K TYPE OF COLUMN EVENTS.KIND = ?, "
                       "C TYPE OF COLUMN EVENTS.CLIENTID = ?, N TYPE OF COLUMN EVENTS.NAME = ?, "
                       "A TYPE OF COLUMN EVENTS.ADDRESS = ?, R TYPE OF COLUMN EVENTS.REASON = ?, "
                       "S TYPE OF COLUMN EVENTS.SOURCE = ?, V INTEGER = ?) AS BEGIN "
                       "IF (NOT EXISTS (SELECT 1 FROM EVENTS WHERE ID = :I)) THEN "
                       "INSERT INTO EVENTS (ID, OCCURRED, KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE, SERVER_ID) "
                       "VALUES (:I, :T, :K, :C, :N, :A, :R, :S, :V); END"),
        {event.id, kept ? QVariant(event.occurred) : QVariant(QMetaType::fromType<QDateTime>()), event.kind,
         column(event.why.clientId, ClientIdLength), column(FixQuotes(event.name), NameLength),
         column(event.address, AddressLength), column(event.why.reason, ReasonLength),
         column(event.why.source, SourceLength), penaltyServer(event.why)});
    commitAndContinue(db);
}

void TDataPalisor::RecordSample(const ServerSample& sample)
{
    if (!recordsHistory())
        return;
    writeOrKeep([&] { writeSample(sample); }, [&] { kept_->keep(sample); });
}

void TDataPalisor::writeSample(const ServerSample& sample)
{
    QSqlDatabase db = database();
    // In UTC, so that a change of the clocks neither repeats nor skips an
    // hour. A sample whose commit went unconfirmed may be written again.
    run(db,
        QStringLiteral("EXECUTE BLOCK (T TIMESTAMP = ?, C INTEGER = ?, M INTEGER = ?, "
                       "N TYPE OF COLUMN SAMPLES.MAPNAME = ?, P INTEGER = ?, H INTEGER = ?) AS BEGIN "
                       "IF (NOT EXISTS (SELECT 1 FROM SAMPLES WHERE SERVER_ID = SESSION_SERVER() AND TAKEN = :T)) THEN "
                       "EXECUTE PROCEDURE ADD_SAMPLE(:T, :C, :M, :N, :P, :H); END"),
        {utcStamp(sample.taken), sample.playerCount, sample.maxPlayers, column(sample.mapName, MapNameLength),
         sample.medianPing, sample.highPing});
    commitAndContinue(db);
}

namespace {

// The WHERE clause of a look at the penalty log, with its values.
QString eventFilter(const QString& text, const QString& kind, QVariantList& values)
{
    QStringList conditions;
    const bool latin1 = std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    if (!latin1) {
        // The log holds Latin-1 only, with '?' for anything else: such a
        // text is in no name or address.
        conditions << QStringLiteral("1 = 0");
    } else if (!text.isEmpty()) {
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

void ForEachEvent(const QSqlDatabase& db, const QString& text, const QString& kind, int limit,
                  const std::function<bool(const PenaltyEvent&)>& each)
{
    QVariantList values;
    if (limit > 0)
        values << limit;
    const QString where = eventFilter(text, kind, values);
    // Forward only: the driver then holds the row at hand, not every row read.
    QSqlQuery q(db);
    q.setForwardOnly(true);
    const QString statement =
        QStringLiteral("SELECT %1OCCURRED, KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE, "
                       "(SELECT S.NAME FROM SERVERS S WHERE S.ID = EVENTS.SERVER_ID) FROM EVENTS")
            .arg(limit > 0 ? QStringLiteral("FIRST ? ") : QString())
        + where + QStringLiteral(" ORDER BY ID DESC");
    if (!q.prepare(statement))
        throw Error(errorText(q.lastError()));
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec())
        throw Error(errorText(q.lastError()));
    while (q.next()) {
        const PenaltyEvent event{q.value(0).toDateTime(), textOf(q.value(1)), textOf(q.value(2)), textOf(q.value(3)),
                                 textOf(q.value(4)),      textOf(q.value(5)), textOf(q.value(6)), textOf(q.value(7))};
        if (!each(event))
            break;
    }
}

QList<PenaltyEvent> ReadEvents(const QSqlDatabase& db, const QString& text, const QString& kind, int limit)
{
    QList<PenaltyEvent> events;
    ForEachEvent(db, text, kind, limit, [&events](const PenaltyEvent& e) {
        events.append(e);
        return true;
    });
    return events;
}

int CountEvents(const QSqlDatabase& db, const QString& text, const QString& kind)
{
    QVariantList values;
    const QString where = eventFilter(text, kind, values);
    QSqlQuery q = run(db, QStringLiteral("SELECT COUNT(*) FROM EVENTS") + where, values);
    return q.next() ? q.value(0).toInt() : 0;
}

QList<SampleStretch> ReadSampleStretches(const QSqlDatabase& db, int server, const QDateTime& from, int stretchSeconds)
{
    // Stretches of ten minutes or more are made of the ten-minute spans;
    // shorter ones of the samples themselves. Times come as milliseconds
    // since 1970 of the stored UTC readings.
    static const QString fromSamples = QStringLiteral(
        "SELECT DATEDIFF(SECOND FROM CAST(? AS TIMESTAMP) TO TAKEN) / CAST(? AS INTEGER) AS STRETCH, "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(TAKEN)), COUNT(*), "
        "MIN(PLAYERCOUNT), MAX(PLAYERCOUNT), MIN(MEDIANPING), MAX(MEDIANPING), MAX(MAXPLAYERS), "
        "SUM(NEWMAP), MAX(IIF(NEWMAP = 1, MAPNAME, NULL)), "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(IIF(NEWMAP = 1, TAKEN, NULL))) "
        "FROM SAMPLES WHERE SERVER_ID = ? AND TAKEN >= ? GROUP BY 1 ORDER BY 1");
    static const QString fromSpans = QStringLiteral(
        "SELECT DATEDIFF(SECOND FROM CAST(? AS TIMESTAMP) TO SPANSTART) / CAST(? AS INTEGER) AS STRETCH, "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(FIRSTTAKEN)), SUM(POLLS), "
        "MIN(FEWESTPLAYERS), MAX(MOSTPLAYERS), MIN(LOWESTPING), MAX(HIGHESTPING), MAX(MAXPLAYERS), "
        "SUM(NEWMAPS), MAX(NEWMAP), "
        "DATEDIFF(MILLISECOND FROM TIMESTAMP '1970-01-01 00:00:00' TO MIN(MAPCHANGED)) "
        "FROM SAMPLESPANS WHERE SERVER_ID = ? AND SPANSTART >= ? GROUP BY 1 ORDER BY 1");
    const QDateTime since = utcStamp(from);
    QSqlQuery q = run(db, stretchSeconds >= SpanSeconds ? fromSpans : fromSamples,
                      {since, qMax(1, stretchSeconds), server, since});
    const auto moment = [](const QVariant& utcMs) {
        return utcMs.isNull() ? QDateTime() : QDateTime::fromMSecsSinceEpoch(utcMs.toLongLong());
    };
    QList<SampleStretch> stretches;
    while (q.next()) {
        stretches.append({moment(q.value(1)), q.value(2).toInt(), q.value(3).toInt(), q.value(4).toInt(),
                          q.value(5), q.value(6), q.value(7).toInt(), q.value(8).toInt(), textOf(q.value(9)),
                          moment(q.value(10))});
    }
    return stretches;
}

void ConvertSamplesToUtc(QSqlDatabase& db)
{
    QSqlQuery range = run(db, QStringLiteral("SELECT MIN(TAKEN), MAX(TAKEN) FROM SAMPLES"));
    if (!range.next() || range.value(0).isNull())
        return;
    // The stored readings are local: read them as if they were UTC to get
    // plain clock readings, then find the zone's offset of each.
    const auto reading = [](const QVariant& v) {
        const QDateTime t = v.toDateTime();
        return QDateTime(t.date(), t.time(), Qt::UTC);
    };
    const QDateTime first = reading(range.value(0));
    const QDateTime last = reading(range.value(1));
    range.finish();

    // One statement changes every row once: the offset is chosen by the old
    // reading, never by a row already moved. A local reading before the
    // clock reading the change ends at has the offset from before it; the
    // hour a change to winter time repeats is thus read as its first pass.
    const QTimeZone zone = QTimeZone::systemTimeZone();
    QString offsets = QStringLiteral("CASE");
    QVariantList values;
    int after = zone.offsetFromUtc(first.addSecs(-zone.offsetFromUtc(first)));
    for (const QTimeZone::OffsetData& change : zone.transitions(first.addDays(-1), last.addDays(1))) {
        const int before = zone.offsetFromUtc(change.atUtc.addSecs(-1));
        offsets += QStringLiteral(" WHEN TAKEN < CAST(? AS TIMESTAMP) THEN CAST(? AS INTEGER)");
        const QDateTime endsAt = change.atUtc.addSecs(before);
        values << QDateTime(endsAt.date(), endsAt.time(), Qt::UTC) << before;
        after = change.offsetFromUtc;
    }
    offsets += QStringLiteral(" ELSE CAST(? AS INTEGER) END");
    values << after;
    run(db, QStringLiteral("UPDATE SAMPLES SET TAKEN = DATEADD(-(%1) SECOND TO TAKEN)").arg(offsets), values);

    run(db, QStringLiteral("DELETE FROM SAMPLESPANS"));
    run(db, QStringLiteral(
        "INSERT INTO SAMPLESPANS (SERVER_ID, SPANSTART, FIRSTTAKEN, POLLS, FEWESTPLAYERS, MOSTPLAYERS, LOWESTPING, "
        "HIGHESTPING, MAXPLAYERS, NEWMAPS, NEWMAP, MAPCHANGED) "
        "SELECT SERVER_ID, DATEADD((EXTRACT(HOUR FROM TAKEN) * 60 + EXTRACT(MINUTE FROM TAKEN)) / 10 * 10 MINUTE "
        "TO CAST(CAST(TAKEN AS DATE) AS TIMESTAMP)), MIN(TAKEN), COUNT(*), MIN(PLAYERCOUNT), MAX(PLAYERCOUNT), "
        "MIN(MEDIANPING), MAX(MEDIANPING), MAX(MAXPLAYERS), SUM(COALESCE(NEWMAP, 0)), MAX(IIF(NEWMAP = 1, MAPNAME, NULL)), "
        "MIN(IIF(NEWMAP = 1, TAKEN, NULL)) FROM SAMPLES GROUP BY 1, 2"));
}

bool TDataPalisor::convertLocalSamples()
{
    // Whoever deletes the mark converts the samples in the same transaction.
    // Another program connecting at the same moment waits on the row, then
    // fails with an update conflict, rolls back and finds the mark gone when
    // it looks again.
    QSqlDatabase db = database();
    QString failure;
    for (int look = 0; look < 2; ++look) {
        db.transaction();
        try {
            bool converted = false;
            if (run(db, QStringLiteral("SELECT FIRST 1 1 FROM SAMPLES_IN_LOCAL_TIME")).next()
                && run(db, QStringLiteral("DELETE FROM SAMPLES_IN_LOCAL_TIME")).numRowsAffected() > 0) {
                ConvertSamplesToUtc(db);
                converted = true;
            }
            if (!db.commit())
                throw Error(errorText(db.lastError()));
            if (converted)
                WriteLog(QStringLiteral("Samples stored in local time by an earlier version converted to UTC"));
            return true;
        } catch (const Error& e) {
            failure = e.message();
            db.rollback();
        }
    }
    WriteLog(QStringLiteral("Exception: History not available: the samples stored in local time could not be "
                            "converted to UTC: ")
             + failure);
    return false;
}

}  // namespace palisor
