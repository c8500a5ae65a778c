#include "monitor/monitor.h"

#include "core/shellutils.h"
#include "core/timing.h"
#include "monitor/serverinfo.h"
#include "monitor/statusreply.h"
#include "monitor/textrules.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"

#include <exception>

namespace palisor {
namespace {

// The server's ban-request variable holds this while no ban is requested.
const QString kIdleClientBan = QStringLiteral("99");

}  // namespace

TMonitor::TMonitor(TDataPalisor& data, TRcon& rcon, MonitorView& view)
    : data_(data), rcon_(rcon), view_(view)
{
}

void TMonitor::Start(int scanTimeSeconds)
{
    strikeLimit_ = palisor::StrikeLimit(scanTimeSeconds);
    highPingStrikes_.Clear();
}

QString TMonitor::SendCommand(const QString& command)
{
    view_.BeforeExchange();
    return Exchange(command);
}

QString TMonitor::Exchange(const QString& command)
{
    rcon_.Host = view_.HostText();
    rcon_.Port = ToInteger(view_.PortText());
    rcon_.Password = view_.PasswordText();
    return rcon_.Command(command);
}

void TMonitor::RefreshServer()
{
    view_.EnableSettings(false);
    view_.ShowStatus(QString());
    kicks_ = 0;
    int players = 0;
    try {
        players = ReadPlayers();
        ReadServerInfo();
    } catch (const std::exception& e) {
        view_.RefreshActionMenu();
        if (NeedsReconnect(QString::fromStdString(e.what()))) {
            data_.DisconnectDatabase();
            data_.ConnectDatabase();
        }
        throw;
    }
    view_.RefreshActionMenu();
    MonitorEvent poll{MonitorEvent::Kind::Poll};
    poll.players = players;
    poll.kicks = kicks_;
    view_.ReportEvent(poll);
}

int TMonitor::ReadPlayers()
{
    view_.BeginPlayerRebuild();
    int examined = 0;
    try {
        const QStringList lines = SplitLines(SendCommand(QStringLiteral("status")));
        // Before any player is examined, so a ban requested now applies in this poll.
        PollClientBan();
        const StatusPlan plan = PlanStatusReply(lines);
        present_.clear();
        for (const QString& line : plan.playerLines) {
            const PlayerRow row = CutPlayerLine(line);
            CheckPlayer(row.clientId, row.name, row.ping, row.port, row.address);
        }
        // Kicks and bans were committed as they happened; the players who
        // stay replace the table in one commit.
        if (plan.clearPlayers)
            data_.RecordPlayers(present_, true);
        examined = static_cast<int>(plan.playerLines.size());
    } catch (...) {
        view_.EndPlayerRebuild();
        throw;
    }
    view_.EndPlayerRebuild();
    return examined;
}

void TMonitor::PollClientBan()
{
    pendingBanClient_.clear();
    view_.BeforeExchange();
    const QString value = rcon_.QueryVariable(QStringLiteral("clientban"));
    if (value.isEmpty() || value == kIdleClientBan)
        return;
    SendCommand(QStringLiteral("set clientban ") + kIdleClientBan);
    pendingBanClient_ = PadZeros(value, 2);
    MonitorEvent request{MonitorEvent::Kind::BanRequest};
    request.clientId = pendingBanClient_;
    view_.ReportEvent(request);
}

void TMonitor::CheckPlayer(const QString& clientId, const QString& name, const QString& ping,
                           const QString& port, const QString& address)
{
    if (pendingBanClient_ == clientId)
        StoreBan(name, address, Penalty{EventSource::ServerRequest, QStringLiteral("SERVER REQUEST"), clientId});

    QString result;
    if (data_.IsIllegalName(name))
        result = KickPlayer(clientId, name, QStringLiteral("ILLEGAL NAME"), address);
    else if (data_.IsBanned(name, address))
        result = KickPlayer(clientId, name, QStringLiteral("BANNED IP"), address);
    else if (CheckHighPing(clientId + address, ping))
        result = KickPlayer(clientId, name, QStringLiteral("HIGH PING"), address);
    else {
        present_.append({clientId, name, address, port, ping});
        return;
    }
    view_.ShowStatus(result);
}

QString TMonitor::KickPlayer(const QString& clientId, const QString& name, const QString& reason,
                             const QString& address, const QString& source)
{
    const Penalty why{source, reason, clientId};
    MonitorEvent event(MonitorEvent::Kind::Refusal);
    event.clientId = clientId;
    event.name = name;
    event.address = address;
    event.reason = reason;
    event.source = source;
    if (data_.IsImmune(name)) {
        data_.RecordEvent(EventKind::Refusal, why, name, address);
        event.text = QStringLiteral("Player ") + name + QStringLiteral(" is Immune and can not be kicked.");
        view_.ReportEvent(event);
        return event.text;
    }
    SendCommand(QStringLiteral("say Kicking player ") + name + QStringLiteral(" for ") + reason);
    // Once the chat has announced it, the kick is done and logged even when a
    // stop or the program's end is asked for meanwhile: it costs the pause
    // and one exchange more.
    pause(KickPause);
    event.text = Exchange(QStringLiteral("clientkick ") + clientId);
    // Recorded once the server took the kick; a failed kick is no penalty.
    data_.RecordEvent(EventKind::Kick, why, name, address);
    event.kind = MonitorEvent::Kind::Kick;
    ++kicks_;
    view_.ReportEvent(event);
    return event.text;
}

QString TMonitor::BanAndKick(const QString& clientId, const QString& name, const QString& address,
                             const QString& reason)
{
    StoreBan(name, address, Penalty{EventSource::Admin, reason, clientId});
    return KickPlayer(clientId, name, reason, address, EventSource::Admin);
}

TMonitor::Response TMonitor::DumpUser(const QString& name)
{
    const QString command = QStringLiteral("dumpuser \"") + name;
    return {SendCommand(command), command + QLatin1Char('"')};
}

void TMonitor::StoreBan(const QString& name, const QString& address, const Penalty& why)
{
    data_.BanPlayer(name, address, why);
    MonitorEvent stored{MonitorEvent::Kind::BanStored};
    stored.clientId = why.clientId;
    stored.name = name;
    stored.address = address;
    stored.reason = why.reason;
    stored.source = why.source;
    view_.ReportEvent(stored);
}

bool TMonitor::CheckHighPing(const QString& key, const QString& ping)
{
    if (strikeLimit_ == 0)
        return false;
    const int maxPing = ToInteger(view_.MaxPingText());
    return highPingStrikes_.Check(key, ToInteger(ping), maxPing, strikeLimit_);
}

void TMonitor::ReadServerInfo()
{
    view_.ClearServerInfo();
    serverInfo_ = NormaliseServerInfo(SplitLines(SendCommand(QStringLiteral("serverinfo"))));
    const auto value = [this](const char* name) { return ServerInfoValue(serverInfo_, QLatin1String(name)); };

    view_.ShowServerInfo(ServerBox::HostName, value("sv_hostname"));
    view_.ShowServerInfo(ServerBox::GameType, value("g_gametypestring"));
    view_.ShowServerInfo(ServerBox::PlyrCnt, QString::number(data_.CountRows(data_.tblPlayers))
                                                 + QLatin1Char('/') + value("sv_maxclients"));
    const auto alias = [this](const QString& name) { return data_.LookupMapAlias(name); };
    const QString mapName = value("mapname");
    view_.ShowServerInfo(ServerBox::CurMap, ShortMapName(mapName, alias));
    const auto readVariable = [this](const QString& name) {
        view_.BeforeExchange();
        return rcon_.QueryVariable(name);
    };
    view_.ShowServerInfo(ServerBox::NextMap, NextMapName(mapName, readVariable, alias));
    view_.UpdateVariables();
    RecordSample(value("sv_maxclients"), ShortMapName(mapName, alias));
}

void TMonitor::RecordSample(const QString& maxPlayers, const QString& mapName)
{
    const QList<int> pings = data_.PlayerPings();
    lastSample_ = {now(), data_.CountRows(data_.tblPlayers), maxPlayers.trimmed().toInt(), mapName, MedianPing(pings),
                   HighestPing(pings)};
    data_.RecordSample(lastSample_);
}

}  // namespace palisor
