#pragma once

#include "sim/timeline.h"

namespace palisor::sim {

// FF FF FF FF, the direction byte of a reply, and the engine's print tag.
extern const Bytes replyHeader;

// The largest text one datagram carries when the scenario does not split.
constexpr int maxDatagramText = 65000;

// One received datagram as the command log records it.
struct LogEntry {
    qint64 seq = 0;
    quint16 sourcePort = 0;
    bool rcon = false;      // an rcon request; anything else is ignored
    Bytes payload;          // the text after the five header bytes
    Bytes password;         // the password word as the server reads it
    Bytes command;          // the command text the server runs
    bool accepted = false;  // the password matched
    bool answered = false;  // a reply was sent (and the command run)
};

// One line of the command log: a JSON object and a line feed.
Bytes logLine(const LogEntry& entry);

// The reply datagrams for a printed text: `split` bytes of text in each (0 =
// as much as fits), every one with its own header, at least one.
QList<Bytes> frameReply(const Bytes& text, int split);

struct Reception {
    LogEntry entry;
    QList<Bytes> datagrams;  // to send back to the source, in order
};

// The game server without its socket: one datagram in, the log entry and
// the reply datagrams out.
class SimServer {
public:
    // An empty password is a server without one. Throws palisor::Error when
    // the scenario does not fit the server.
    SimServer(const Scenario& scenario, const Bytes& password);

    // `elapsedMs`: time since the server started, for seconds-keyed events
    // and the minimum request interval.
    Reception receive(const Bytes& datagram, quint16 sourcePort, qint64 elapsedMs);

    const ServerState& state() const { return state_; }

private:
    bool dropped(qint64 elapsedMs);

    Scenario scenario_;
    Bytes password_;
    ServerState state_;
    Console console_;
    Timeline timeline_;
    qint64 seq_ = 0;
    qint64 rconRequests_ = 0;
    qint64 lastAnsweredMs_ = -1;
};

}  // namespace palisor::sim
