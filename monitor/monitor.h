#pragma once

#include "monitor/monitorrules.h"
#include "store/history.h"

#include <QString>
#include <QStringList>

namespace palisor {

class TDataPalisor;
class TRcon;

// The five read-only boxes that show what "serverinfo" told.
enum class ServerBox { HostName, GameType, PlyrCnt, CurMap, NextMap };

// What the monitor needs from the main window: the settings as the boxes show
// them right now, and the places where a poll shows its progress.
class MonitorView {
public:
    virtual ~MonitorView() = default;
    virtual QString HostText() const = 0;
    virtual QString PortText() const = 0;
    virtual QString PasswordText() const = 0;
    virtual QString MaxPingText() const = 0;

    virtual void ShowStatus(const QString& text) = 0;
    virtual void EnableSettings(bool on) = 0;
    virtual void RefreshActionMenu() = 0;
    // The player grid is hidden while the player table is rebuilt, then shown
    // again on its first row; the end is called also when the rebuild failed.
    virtual void BeginPlayerRebuild() = 0;
    virtual void EndPlayerRebuild() = 0;
    virtual void ClearServerInfo() = 0;
    virtual void ShowServerInfo(ServerBox box, const QString& text) = 0;
    virtual void UpdateVariables() = 0;
};

// The server monitor's poll: reads the player list, enforces the rules on
// every player, and reads the server information. Everything runs on the
// user-interface thread and blocks it for the console exchanges.
class TMonitor {
public:
    // The pause between the chat announcement of a kick and the kick, so the
    // player can read why.
    static constexpr int KickPause = 1500;

    TMonitor(TDataPalisor& data, TRcon& rcon, MonitorView& view);

    // Prepares a monitor run: the high-ping strike limit from the scan time,
    // and no strikes yet. Throws for a scan time below 1.
    void Start(int scanTimeSeconds);

    QString SendCommand(const QString& command);
    void RefreshServer();
    void ReadPlayers();
    void PollClientBan();
    void CheckPlayer(const QString& clientId, const QString& name, const QString& ping,
                     const QString& port, const QString& address);
    // Announces and kicks, or refuses an immune player; either way the
    // penalty log gets the event, with the address and source given.
    QString KickPlayer(const QString& clientId, const QString& name, const QString& reason,
                       const QString& address = QString(), const QString& source = EventSource::Monitor);
    bool CheckHighPing(const QString& key, const QString& ping);
    void ReadServerInfo();

    const QString& PendingBanClient() const { return pendingBanClient_; }
    int StrikeLimit() const { return strikeLimit_; }
    const QStringList& ServerInfo() const { return serverInfo_; }

private:
    // The poll's picture of the server for the History window.
    void RecordSample(const QString& maxPlayers, const QString& mapName);

    TDataPalisor& data_;
    TRcon& rcon_;
    MonitorView& view_;
    QString pendingBanClient_;
    HighPingStrikes highPingStrikes_;
    int strikeLimit_ = 0;   // none before the first start: nobody is kicked for high ping
    QStringList serverInfo_;
};

}  // namespace palisor
