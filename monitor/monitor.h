#pragma once

#include "monitor/monitorrules.h"
#include "store/datapalisor.h"
#include "store/history.h"

#include <QString>
#include <QStringList>

namespace palisor {

class TDataPalisor;
class TRcon;

// The five read-only boxes that show what "serverinfo" told.
enum class ServerBox { HostName, GameType, PlyrCnt, CurMap, NextMap };

// A notable moment of the monitor, for whoever keeps a log or a history.
struct MonitorEvent {
    enum class Kind {
        Started,       // the monitor started
        Stopped,       // the monitor stopped
        Poll,          // a poll ended: players examined, kicks sent
        Kick,          // a player was announced and kicked: reason, text = the server's reply
        Refusal,       // an immune player was not kicked: reason, text = the result shown
        BanRequest,    // the server asked for a ban: clientId
        BanStored,     // a ban was stored: name, address, reason
        Announcement,  // text = what was said
        Maintenance,   // the maintenance cycle: text = "begun", "ended" or "postponed: why"
        Error,         // text = the message
        DatabaseLost,  // the database server is gone: text = the error that told
        DatabaseBack,  // it is back: kept records written, and dropped for want of room
    };
    MonitorEvent() = default;
    explicit MonitorEvent(Kind what) : kind(what) {}

    Kind kind = Kind::Error;
    QString clientId;
    QString name;
    QString address;
    QString reason;
    // Kicks, refusals and bans carry what their row in the penalty log
    // (EVENTS) holds: client number, name, address, reason and this.
    QString source;
    QString text;
    int players = 0;
    int kicks = 0;
    int written = 0;
    int dropped = 0;
};

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
    // Called before every exchange with the server but a kick's
    // "clientkick"; may throw to end the work at that point.
    virtual void BeforeExchange() {}
    virtual void ReportEvent(const MonitorEvent&) {}
};

// The server monitor's poll: reads the player list, enforces the rules on
// every player, and reads the server information; and the console side of
// the player actions. It blocks for the console exchanges, so it runs on the
// monitor engine's thread.
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
    // Returns the number of player lines examined.
    int ReadPlayers();
    void PollClientBan();
    // Kicks a player the rules find against; one who stays is recorded with
    // the others when the poll has examined them all.
    void CheckPlayer(const QString& clientId, const QString& name, const QString& ping,
                     const QString& port, const QString& address);
    // Announces and kicks, or refuses an immune player; either way the
    // penalty log gets the event, with the address and source given, and
    // the view its report.
    QString KickPlayer(const QString& clientId, const QString& name, const QString& reason,
                       const QString& address = QString(), const QString& source = EventSource::Monitor);
    // The Ban action: the ban is stored first, so it holds whatever becomes
    // of the kick; the result is the kick's.
    QString BanAndKick(const QString& clientId, const QString& name, const QString& address,
                       const QString& reason);
    // The Dump User action: an opening quote alone makes the console take
    // the rest of the line, blanks included, as the name; the viewer's title
    // shows it closed.
    struct Response {
        QString reply;
        QString title;
    };
    Response DumpUser(const QString& name);
    bool CheckHighPing(const QString& key, const QString& ping);
    void ReadServerInfo();

    const QString& PendingBanClient() const { return pendingBanClient_; }
    int StrikeLimit() const { return strikeLimit_; }
    const QStringList& ServerInfo() const { return serverInfo_; }
    // The picture of the server the last complete poll recorded.
    const ServerSample& LastSample() const { return lastSample_; }

private:
    // SendCommand without the view's check before it.
    QString Exchange(const QString& command);
    // The poll's picture of the server for the History window.
    void RecordSample(const QString& maxPlayers, const QString& mapName);
    void StoreBan(const QString& name, const QString& address, const Penalty& why);

    TDataPalisor& data_;
    TRcon& rcon_;
    MonitorView& view_;
    QString pendingBanClient_;
    HighPingStrikes highPingStrikes_;
    int strikeLimit_ = 0;   // none before the first start: nobody is kicked for high ping
    QStringList serverInfo_;
    ServerSample lastSample_;
    int kicks_ = 0;   // in the running poll
    QList<PlayerRecord> present_;   // the running poll's players who stay
};

}  // namespace palisor
