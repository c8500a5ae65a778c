#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

namespace palisor::sim {

// Text is kept as the game keeps it: 8-bit bytes, Latin-1 when shown as text.
using Bytes = QByteArray;

enum class ClientState { Active, Connecting, Zombie };

struct SimPlayer {
    int slot = 0;
    Bytes name;
    Bytes address;  // dotted IPv4 address, "bot" or "loopback"
    int port = 0;
    ClientState state = ClientState::Active;
    int ping = 0;
    int score = 0;
    int lastmsg = 0;
    int qport = 0;
    int rate = 25000;
    QList<QPair<Bytes, Bytes>> userinfo;  // keys beyond name, rate, snaps and ip

    // The address as the status reply shows it: "a.b.c.d:port", or bot/loopback.
    Bytes netAddress() const;
    bool isLocal() const { return address == "bot" || address == "loopback"; }
};

// A variable as a scenario gives it; an absent value removes the variable.
struct VariableSetting {
    Bytes name;
    std::optional<Bytes> value;
    std::optional<Bytes> resetValue;
    std::optional<bool> serverinfo;
};

struct PingSetting {
    int slot = 0;
    ClientState state = ClientState::Active;
    int ping = 0;
};

struct TimelineEvent {
    enum class Trigger { StatusCount, Seconds };
    Trigger trigger = Trigger::StatusCount;
    double at = 0;  // number of status replies sent, or seconds since start
    QList<int> leave;
    QList<SimPlayer> join;
    QList<PingSetting> ping;
    QList<QPair<int, int>> score;
    QList<VariableSetting> set;
    Bytes command;
};

struct Scenario {
    QString origin = QStringLiteral("Scenario");  // names the scenario in messages
    QList<SimPlayer> players;
    QList<VariableSetting> variables;
    int split = 0;          // bytes of text per reply datagram; 0 = one datagram
    bool silent = false;    // never answers
    int answerEvery = 1;    // answers only every n-th request
    int minIntervalMs = 0;  // drops a request that follows the last answered one too soon
    int jitter = 0;         // each status moves every ping by up to this much
    quint32 seed = 1;
    double loopSeconds = 0; // seconds-keyed events repeat with this period
    QList<TimelineEvent> timeline;
};

// Both throw palisor::Error with a message naming the offending entry.
Scenario parseScenario(const QByteArray& json, const QString& origin = QStringLiteral("Scenario"));
Scenario loadScenarioFile(const QString& path);

}  // namespace palisor::sim
