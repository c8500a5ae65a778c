#pragma once

#include "core/error.h"
#include "store/servers.h"

#include <QObject>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

namespace palisor {

class EventWriter;
class HeadlessMonitor;
class LetGoWatch;
class TDataPalisor;
class TRcon;
struct StatusReport;

// A --server name the database does not hold.
class UnknownServer : public Error {
public:
    using Error::Error;
};

// The game servers one palisor-monitor watches: every server of the
// database, or those chosen by name, each on a HeadlessMonitor of its own
// (its thread, console client and attachment). Lives on the program's main
// thread, whose loop it ends once no server is left to monitor.
class MonitorFleet : public QObject {
    Q_OBJECT
public:
    // data is the program's data module, connected. chosen: the names asked
    // for (none: every server, those added later too). UnknownServer naming
    // the first that the database lacks.
    MonitorFleet(TDataPalisor& data, EventWriter& events, const QStringList& chosen);
    ~MonitorFleet() override;

    // Starts a monitor per server and from then on follows the list of
    // servers: one added starts, one removed ends, one renamed is named anew.
    void Start();
    // SIGHUP: every monitor re-reads its settings and the lists.
    void Reload();
    // One poll of each server in turn, like the window's Status: `report`
    // gets each one's report or error; then `done` gets the exit code (0:
    // every server answered; 75: each was monitored elsewhere; else 1).
    void Once(std::function<void(const StatusReport& report, const QString& error)> report,
              std::function<void(int exitCode)> done);

    // Every server monitored or polled in this run, by number.
    const QList<int>& Served() const { return served_; }

private:
    struct Engine {
        ServerEntry server;
        std::unique_ptr<TRcon> rcon;
        std::unique_ptr<HeadlessMonitor> monitor;
    };
    // The servers to monitor, as the database lists them now.
    QList<ServerEntry> Chosen();
    std::unique_ptr<Engine> Make(const ServerEntry& server);
    // The list of servers changed: start, end and rename to match it.
    void Follow();
    // A monitor ended: the program ends when none runs or waits any more.
    void Ended();
    void Reattach();
    void OnceNext();

    TDataPalisor& data_;
    EventWriter& events_;
    QList<int> chosen_;   // empty: every server
    std::map<int, std::unique_ptr<Engine>> engines_;
    LetGoWatch* watch_ = nullptr;
    QList<ServerEntry> onceLeft_;
    std::function<void(const StatusReport&, const QString&)> onceReport_;
    std::function<void(int)> onceDone_;
    int onceAsked_ = 0, onceFailed_ = 0, onceClaimed_ = 0;
    QList<int> served_;
};

}  // namespace palisor
