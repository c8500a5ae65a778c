#pragma once

#include <QDateTime>
#include <QList>
#include <QSqlDatabase>
#include <QString>
#include <QVariant>

#include <functional>

namespace palisor {

// The kinds of the penalty log's events (EVENTS.KIND).
namespace EventKind {
inline const QString Kick = QStringLiteral("KICK");
inline const QString Ban = QStringLiteral("BAN");
inline const QString Refusal = QStringLiteral("REFUSAL");   // an immune player was not kicked
inline const QString Unban = QStringLiteral("UNBAN");       // a row left BANNED
}  // namespace EventKind

// Who caused an event (EVENTS.SOURCE).
namespace EventSource {
inline const QString Monitor = QStringLiteral("monitor");
inline const QString Admin = QStringLiteral("admin");
inline const QString Import = QStringLiteral("import");
inline const QString ServerRequest = QStringLiteral("server request");
}  // namespace EventSource

// Why a penalty happens, as the penalty log keeps it.
struct Penalty {
    QString source = EventSource::Admin;
    QString reason;     // the rule, the typed reason, the imported file's name
    QString clientId;   // the player's client number when he was on the server
};

// One row of the penalty log.
struct PenaltyEvent {
    QDateTime occurred;
    QString kind;
    QString clientId;
    QString name;
    QString address;
    QString reason;
    QString source;
    QString server;   // the name of the server it happened on; empty for none or one removed since
};

// One poll's picture of the server, kept in UTC. The pings are of the players recorded
// in that poll; without players they are null.
struct ServerSample {
    QDateTime taken;
    int playerCount = 0;
    int maxPlayers = 0;
    QString mapName;
    QVariant medianPing;
    QVariant highPing;
};

// How long samples are kept.
constexpr int SampleDays = 90;

// The median (the lower middle one's and the upper middle one's mean,
// rounded, for an even count) and the highest of the pings; null without any.
QVariant MedianPing(QList<int> pings);
QVariant HighestPing(const QList<int>& pings);

// The penalty log newest first: with a text, only events whose name or
// address contains it (letter case ignored); with a kind, only that kind;
// with a limit, only that many.
QList<PenaltyEvent> ReadEvents(const QSqlDatabase& db, const QString& text = QString(),
                               const QString& kind = QString(), int limit = 0);
// The same events one at a time, read as they are needed, so the memory
// stays flat whatever the log's size; stops early when `each` returns false.
void ForEachEvent(const QSqlDatabase& db, const QString& text, const QString& kind, int limit,
                  const std::function<bool(const PenaltyEvent&)>& each);
// One field of a CSV file for a spreadsheet: quoted as RFC 4180 asks when it
// holds a comma, a quote or a line end (its quotes doubled), and with a
// leading apostrophe when it begins with = + - @ TAB or CR, so that a
// spreadsheet shows it as text instead of running it as a formula.
QString CsvField(const QString& text);
// How many events ReadEvents would give without a limit.
int CountEvents(const QSqlDatabase& db, const QString& text = QString(), const QString& kind = QString());

// The samples of one stretch of a chart's time axis, summed up.
struct SampleStretch {
    QDateTime first;               // the stretch's first poll
    int polls = 0;
    int fewestPlayers = 0;
    int mostPlayers = 0;
    QVariant lowestPing;           // of the polls' median pings; null when
    QVariant highestPing;          // no poll of the stretch had players
    int maxPlayers = 0;
    int mapChanges = 0;
    QString newMap;                // the map changed to (the last in name order when several)
    QDateTime mapChanged;          // the stretch's first change
};

// The database keeps the samples summed up by spans of this many seconds.
constexpr int SpanSeconds = 600;

// The samples taken from `from` on, in stretches of stretchSeconds counted
// from `from`, oldest first, in one query. Stretches of a span or more are
// made of whole spans (the span that holds `from` is left out), so a month
// of polls is read as 4,320 spans rather than 86,400 samples.
QList<SampleStretch> ReadSampleStretches(const QSqlDatabase& db, int server, const QDateTime& from, int stretchSeconds);

// For a database whose samples were stored in local time (SAMPLES.TAKEN is
// UTC now): turns each into UTC with the offset the system's zone had then
// and sums the spans up again. A reading inside the hour that a change to
// winter time repeats is taken for its first pass. Runs in the connection's
// transaction; the caller commits, once, before any sample in UTC is added
// (the data module does so when it connects to a database whose
// SAMPLES_IN_LOCAL_TIME holds a row, deleting the row in that transaction).
void ConvertSamplesToUtc(QSqlDatabase& db);

}  // namespace palisor
