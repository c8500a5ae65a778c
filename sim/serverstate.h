#pragma once

#include "sim/scenario.h"

#include <QMap>

#include <map>

namespace palisor::sim {

struct Variable {
    Bytes name;        // as first spelled; lookups ignore letter case
    Bytes value;
    Bytes resetValue;  // shown as default:"..."
    bool serverinfo = false;
};

// What the game server knows: its connected clients by slot and its
// console variables. The engine variables exist from the start with their
// engine defaults; a scenario changes their values, not their defaults.
class ServerState {
public:
    // Throws palisor::Error when a player's slot does not fit sv_maxclients.
    explicit ServerState(const Scenario& scenario);

    const std::map<int, SimPlayer>& players() const { return players_; }
    SimPlayer* player(int slot);
    void join(const SimPlayer& player);  // replaces whoever held the slot
    void leave(int slot);

    const Variable* variable(const Bytes& name) const;
    // Creates the variable when missing (its default is then the new value).
    void setVariable(const Bytes& name, const Bytes& value, bool serverinfo = false);
    void apply(const VariableSetting& setting);
    QList<Variable> serverInfo() const;  // sorted by name, ignoring letter case

    Bytes mapName() const;
    int maxClients() const;

    int statusCount() const { return statusCount_; }
    void countStatus() { ++statusCount_; }

    // The ping shown in the next status reply for a player whose base ping
    // is `ping`: moved by up to the scenario's jitter, reproducibly.
    int jitteredPing(int ping);

private:
    std::map<int, SimPlayer> players_;
    QMap<Bytes, Variable> variables_;  // by lower-case name
    int statusCount_ = 0;
    int jitter_ = 0;
    quint32 random_ = 1;
};

}  // namespace palisor::sim
