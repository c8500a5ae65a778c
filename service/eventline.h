#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <utility>

namespace palisor {

// One event of the headless monitor as it goes to standard output: its time,
// its name ("kick", "poll"...) and its fields in a fixed order. The fields of
// an event that the penalty log also keeps bear the log's column names
// (clientid, name, address, reason, source).
struct EventLine {
    QDateTime time;
    QString event;
    // Texts and numbers; a number that is missing is a null QVariant (json null).
    QList<std::pair<QString, QVariant>> fields;
};

// "2026-12-07T14:03:11.250+01:00 kick clientid=03 name="Bad Guy" ..."; a
// text with a blank, a quote, a backslash or an equals sign is quoted, and
// control characters are escaped, so that a player's name can never break
// the line or pose as a field.
QString TextEventLine(const EventLine& line);

// {"time":"...","event":"kick","clientid":"03",...}: one JSON object, the
// keys in the same order every time.
QString JsonEventLine(const EventLine& line);

}  // namespace palisor
