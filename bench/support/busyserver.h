#pragma once

// The simulated server the running-program benchmarks poll: a full server
// whose players break no rule (pings 40 to 40 + players - 1 ms, under a
// maximum ping of 999), so every poll does the same work.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace palisor::bench {

inline QString BusyServerScenario(int players)
{
    QJsonArray list;
    for (int slot = 0; slot < players; ++slot)
        list.append(QJsonObject{{"slot", slot},
                                {"name", QStringLiteral("Soldier|%1 of the 2nd").arg(slot)},
                                {"address", QStringLiteral("198.51.100.%1").arg(slot + 1)},
                                {"port", 12203},
                                {"ping", 40 + slot}});
    const QJsonObject variables{{"sv_hostname", "Bench Server"}, {"g_gametypestring", "Objective-Match"},
                                {"sv_maxclients", players}, {"mapname", "obj/obj_team1"}, {"nextmap", "vstr m2"},
                                {"m1", "map obj/obj_team1; set nextmap vstr m2"},
                                {"m2", "map obj/obj_team2; set nextmap vstr m1"}, {"clientban", 99}};
    return QString::fromUtf8(
        QJsonDocument(QJsonObject{{"players", list}, {"variables", variables}}).toJson(QJsonDocument::Compact));
}

}  // namespace palisor::bench
