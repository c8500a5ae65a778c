#pragma once

#include <QString>
#include <QStringList>

namespace palisor {

// One player as the "status" reply shows him, in the text form the PLAYERS
// table keeps: client number of at least 2 digits, ping of at least 3.
struct PlayerRow {
    QString clientId;
    QString name;
    QString address;
    QString port;
    QString ping;

    bool operator==(const PlayerRow&) const = default;
};

// Cuts one player line of the status reply by its character columns. Total:
// any text gives a row, possibly with empty fields.
PlayerRow CutPlayerLine(const QString& line);

// What a status reply of these lines asks of the player table.
struct StatusPlan {
    bool clearPlayers = false;   // any reply at all replaces the table
    QStringList playerLines;     // the lines to examine, in order
};

// The first three lines are headings and the last one closes the reply; a
// reply too short to hold a player line between them examines nobody.
StatusPlan PlanStatusReply(const QStringList& lines);

}  // namespace palisor
