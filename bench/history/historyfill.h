#pragma once

#include <QDateTime>
#include <QSqlDatabase>

namespace palisor::bench {

// A believable server life for the History window: one sample every
// pollSeconds over `days` days up to `end` (busy evenings, quiet nights,
// a map rotation, an outage on the third day), in one transaction.
// Returns the number of samples written.
int FillSamples(QSqlDatabase& db, const QDateTime& end, int days, int pollSeconds = 30);

// A week of penalties ending at `end`: kicks by every rule, bans from every
// source, a refusal and a removal, with names and reasons that hold quotes,
// commas and 8-bit letters.
int FillEvents(QSqlDatabase& db, const QDateTime& end);

}  // namespace palisor::bench
