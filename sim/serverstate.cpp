#include "sim/serverstate.h"

#include "core/error.h"

#include <algorithm>

namespace palisor::sim {

namespace {

struct EngineVariable {
    const char* name;
    const char* resetValue;
    bool serverinfo;
};

// The variables a running server has before any script touches it. clientban
// is the admin script's ban request; 99 means no request.
constexpr EngineVariable engineVariables[] = {
    {"sv_hostname", "noname", true},
    {"g_gametype", "1", true},
    {"g_gametypestring", "Free-For-All", true},
    {"sv_maxclients", "32", true},
    {"mapname", "dm/mohdm1", true},
    {"fraglimit", "0", true},
    {"timelimit", "0", true},
    {"sv_maplist", "", false},
    {"clientban", "99", false},
};

}  // namespace

ServerState::ServerState(const Scenario& scenario)
    : jitter_(scenario.jitter), random_(scenario.seed)
{
    for (const EngineVariable& v : engineVariables)
        variables_.insert(Bytes(v.name), Variable{v.name, v.resetValue, v.resetValue, v.serverinfo});
    for (const VariableSetting& s : scenario.variables)
        apply(s);

    const int maxClients = this->maxClients();
    auto checkSlot = [&scenario, maxClients](int slot, const QString& where) {
        if (slot >= maxClients)
            throw Error(QStringLiteral("%1: %2: slot %3 does not fit sv_maxclients %4")
                            .arg(scenario.origin, where).arg(slot).arg(maxClients));
    };
    for (int i = 0; i < scenario.players.size(); ++i) {
        checkSlot(scenario.players[i].slot, QStringLiteral("players[%1]").arg(i));
        players_[scenario.players[i].slot] = scenario.players[i];
    }
    for (int i = 0; i < scenario.timeline.size(); ++i)
        for (const SimPlayer& p : scenario.timeline[i].join)
            checkSlot(p.slot, QStringLiteral("timeline[%1].join").arg(i));
}

SimPlayer* ServerState::player(int slot)
{
    auto it = players_.find(slot);
    return it == players_.end() ? nullptr : &it->second;
}

void ServerState::join(const SimPlayer& player) { players_[player.slot] = player; }

void ServerState::leave(int slot) { players_.erase(slot); }

const Variable* ServerState::variable(const Bytes& name) const
{
    auto it = variables_.constFind(name.toLower());
    return it == variables_.constEnd() ? nullptr : &it.value();
}

void ServerState::setVariable(const Bytes& name, const Bytes& value, bool serverinfo)
{
    auto it = variables_.find(name.toLower());
    if (it == variables_.end()) {
        variables_.insert(name.toLower(), Variable{name, value, value, serverinfo});
        return;
    }
    it->value = value;
    it->serverinfo = it->serverinfo || serverinfo;
}

void ServerState::apply(const VariableSetting& s)
{
    if (!s.value) {
        variables_.remove(s.name.toLower());
        return;
    }
    setVariable(s.name, *s.value);
    Variable& v = variables_[s.name.toLower()];
    if (s.resetValue)
        v.resetValue = *s.resetValue;
    if (s.serverinfo)
        v.serverinfo = *s.serverinfo;
}

QList<Variable> ServerState::serverInfo() const
{
    QList<Variable> result;
    for (const Variable& v : variables_)
        if (v.serverinfo)
            result.append(v);
    return result;  // QMap keeps the lower-case names in order
}

Bytes ServerState::mapName() const
{
    const Variable* v = variable("mapname");
    return v ? v->value : Bytes();
}

int ServerState::maxClients() const
{
    const Variable* v = variable("sv_maxclients");
    const int n = v ? v->value.toInt() : 0;
    return std::clamp(n, 1, 64);
}

int ServerState::jitteredPing(int ping)
{
    if (jitter_ == 0)
        return ping;
    random_ = random_ * 1664525u + 1013904223u;
    const int offset = static_cast<int>((random_ >> 16) % static_cast<quint32>(2 * jitter_ + 1)) - jitter_;
    return std::max(1, ping + offset);
}

}  // namespace palisor::sim
