#include "service/fleet.h"

#include "core/error.h"
#include "monitor/monitorthread.h"
#include "rcon/rcon.h"
#include "service/eventwriter.h"
#include "service/headless.h"
#include "store/datapalisor.h"
#include "store/letgo.h"

#include <QCoreApplication>
#include <QTimer>

namespace palisor {
namespace {

// Posted by the database in the commit that adds, renames or removes a server.
const char ServersEvent[] = "PALISOR_SERVERS";

}  // namespace

MonitorFleet::MonitorFleet(TDataPalisor& data, EventWriter& events, const QStringList& chosen)
    : data_(data), events_(events)
{
    for (const QString& name : chosen) {
        const std::optional<ServerEntry> server = FindServer(data_.database(), name);
        if (!server) {
            QStringList names;
            for (const ServerEntry& known : ReadServers(data_.database()))
                names << known.name;
            throw UnknownServer(QStringLiteral("There is no server named \"%1\"; the servers are: %2")
                            .arg(name, names.join(QStringLiteral(", "))));
        }
        if (!chosen_.contains(server->id))
            chosen_ << server->id;
    }
}

MonitorFleet::~MonitorFleet()
{
    // Every engine stops after its exchange in progress at once, rather than
    // each waiting for the one before it.
    for (auto& [id, engine] : engines_)
        engine->monitor->Monitor().Exit();
    engines_.clear();
}

QList<ServerEntry> MonitorFleet::Chosen()
{
    // A fresh snapshot: the change that was heard is committed.
    data_.Resynchronise({});
    QList<ServerEntry> servers = ReadServers(data_.database());
    if (!chosen_.isEmpty())
        servers.removeIf([this](const ServerEntry& server) { return !chosen_.contains(server.id); });
    return servers;
}

std::unique_ptr<MonitorFleet::Engine> MonitorFleet::Make(const ServerEntry& server)
{
    auto engine = std::make_unique<Engine>();
    engine->server = server;
    if (!served_.contains(server.id))
        served_ << server.id;
    engine->rcon = std::make_unique<TRcon>();
    engine->monitor = std::make_unique<HeadlessMonitor>(data_, server.id, server.name, *engine->rcon, events_);
    return engine;
}

void MonitorFleet::Start()
{
    // A maintenance cycle of one of the engines has this attachment let go
    // too; the list is read again once it is back, since what changed
    // meanwhile went unheard.
    watch_ = new LetGoWatch(data_, [this] { Follow(); }, this);
    connect(&data_, &TDataPalisor::notified, this, [this](const QString& event) {
        if (event == QLatin1String(ServersEvent))
            Follow();
    });
    data_.Listen({QLatin1String(ServersEvent)});
    Follow();
}

void MonitorFleet::Follow()
{
    if (watch_->away())
        return;
    const QList<ServerEntry> servers = Chosen();
    for (auto it = engines_.begin(); it != engines_.end();) {
        const auto now = std::find_if(servers.begin(), servers.end(),
                                      [&](const ServerEntry& server) { return server.id == it->first; });
        if (now != servers.end()) {
            it->second->monitor->Rename(now->name);
            ++it;
            continue;
        }
        const QString name = it->second->server.name;
        it = engines_.erase(it);
        events_.write(QStringLiteral("stop"), {{QStringLiteral("server"), name},
                                               {QStringLiteral("reason"), QStringLiteral("removed")}});
    }
    for (const ServerEntry& server : servers) {
        if (engines_.count(server.id))
            continue;
        std::unique_ptr<Engine> engine = Make(server);
        connect(engine->monitor.get(), &HeadlessMonitor::ended, this, &MonitorFleet::Ended);
        connect(engine->monitor.get(), &HeadlessMonitor::databaseBack, this, &MonitorFleet::Reattach);
        engine->monitor->Start();
        engines_.emplace(server.id, std::move(engine));
    }
    if (engines_.empty()) {
        WriteError("palisor-monitor", QStringLiteral("None of the servers chosen is left in the database"));
        QCoreApplication::exit(1);
    }
}

void MonitorFleet::Reattach()
{
    // This attachment went with the database server, and with it the
    // subscription to the servers' changes; what changed meanwhile went
    // unheard.
    try {
        data_.Reattach();
        Follow();
    } catch (const std::exception& e) {
        data_.WriteLog(QStringLiteral("Exception: ") + messageOf(e));
    }
}

void MonitorFleet::Ended()
{
    int exitCode = HeadlessMonitor::ExitClaimed;
    for (const auto& [id, engine] : engines_) {
        if (!engine->monitor->Ended())
            return;
        if (exitCode == HeadlessMonitor::ExitClaimed)
            exitCode = engine->monitor->ExitCode();
    }
    // Only when every server is monitored elsewhere does the service manager
    // try again later with 75.
    QCoreApplication::exit(exitCode);
}

void MonitorFleet::Reload()
{
    events_.write(QStringLiteral("reload"));
    for (auto& [id, engine] : engines_)
        engine->monitor->Reload();
}

void MonitorFleet::Once(std::function<void(const StatusReport&, const QString&)> report,
                        std::function<void(int)> done)
{
    onceReport_ = std::move(report);
    onceDone_ = std::move(done);
    onceLeft_ = Chosen();
    onceAsked_ = static_cast<int>(onceLeft_.size());
    // Each poll's engine has an attachment of its own, and its maintenance
    // cycle needs this one closed.
    data_.DisconnectDatabase();
    OnceNext();
}

void MonitorFleet::OnceNext()
{
    if (onceLeft_.isEmpty()) {
        onceDone_(onceFailed_ == 0 ? 0 : onceClaimed_ == onceAsked_ ? HeadlessMonitor::ExitClaimed : 1);
        return;
    }
    const ServerEntry server = onceLeft_.takeFirst();
    std::unique_ptr<Engine> engine = Make(server);
    engine->monitor->Once([this](const StatusReport& polled, const QString& error) {
        if (!error.isEmpty()) {
            ++onceFailed_;
            onceClaimed_ += IsClaimedByAnother(error) ? 1 : 0;
        }
        onceReport_(polled, error);
        // Not from within the monitor's own call.
        QTimer::singleShot(0, this, [this] {
            engines_.clear();
            OnceNext();
        });
    });
    engines_.emplace(server.id, std::move(engine));
}


}  // namespace palisor
