#pragma once

#include "monitor/announcements.h"
#include "monitor/monitor.h"
#include "store/monitorclaim.h"

#include <QObject>
#include <QSemaphore>
#include <QString>
#include <QStringList>
#include <atomic>
#include <functional>
#include <memory>

class QTimer;

namespace palisor {

class TDataPalisor;
class TRcon;

// The settings the monitor works with, as text: in the window, what its
// settings boxes show.
struct MonitorSettings {
    QString host;
    QString port;
    QString password;
    QString scanTime;
    QString maxPing;
};

// The monitor engine: the poll and its rules, the server information, the
// console side of the player actions, the announcement timer and the
// maintenance cycle, with a database attachment of its own. It lives on a
// thread of its own (MonitorThread), where everything runs one request at a
// time, in the order and with the pauses of the monitor, so no two exchanges
// ever overlap on the wire. Requests arrive as calls on that thread; what
// the window (or a headless log) shows leaves as signals. Nothing here needs
// a display.
class MonitorEngine : public QObject, private MonitorView {
    Q_OBJECT
public:
    // makeData makes the engine's data module, on the engine's thread (see
    // TDataPalisor::Maker). rcon is used only on the engine's thread.
    MonitorEngine(std::function<std::unique_ptr<TDataPalisor>()> makeData, TRcon& rcon);
    ~MonitorEngine() override;

    // ---- requests (on the engine's thread) ----
    // Makes the engine's attachment and its timers; the first request.
    void Open();
    // Timers off and the attachment closed; the last request.
    void Close();
    void SetSettings(const MonitorSettings& settings);
    // Who this monitor is in the claim on the game server: this process
    // unless told otherwise.
    void SetIdentity(const MonitorIdentity& identity) { identity_ = identity; }
    // Someone else changed the lists or the settings row: re-read them now.
    // (A change committed anywhere is also heard by itself, and the lists
    // are read again before the next poll.)
    void ListsChanged();
    // SetMonitor on; nothing when already running. Refused, with the error
    // naming it, while another monitor holds the claim on the game server.
    void Start();
    void Stop();       // SetMonitor off; nothing when stopped
    void Status();     // one poll by hand
    void Clear();      // ClearPlayers
    void DeletePlayer(const QString& clientId);   // the grid's Ctrl+Delete
    // A console command whose reply goes to the response viewer under the
    // command, or to a message box.
    void ExecCmd(const QString& command);
    void SendNow(const QString& command);
    // The console side of the player actions, with the values the window
    // read when the action began and the reason already answered.
    void Kick(const QString& clientId, const QString& name, const QString& address, const QString& reason);
    void Ban(const QString& clientId, const QString& name, const QString& address, const QString& reason);
    void Dumpuser(const QString& name);
    void StatusTimerTimer();
    void MsgTimerTimer();

    // ---- from any thread ----
    // The monitor ends after the exchange in progress (a Stop request follows).
    void InterruptPoll() { interruptPoll_ = true; }
    // Polls and announcements end before their next exchange, and no new one
    // begins: the program is ending. An administrator's requests still run.
    void InterruptAll() { interruptAll_ = true; }
    // Whether another attachment (the window's) must let go of the file for
    // the maintenance cycle, and its answer: it has, or kept says why it
    // stays (a list window is open, say) and the cycle waits for a later poll.
    void setOtherAttachment(bool present) { otherAttachment_ = present; }
    void AttachmentReleased(const QString& kept = QString())
    {
        kept_ = kept;
        released_.release();
    }

    // On the engine's thread: whether the monitor runs, and the engine's own
    // data module (a front end without a window reads the settings row there).
    bool Running() const { return running_; }
    TDataPalisor& Data() { return *data_; }

signals:
    // The Start/Stop state, and which settings, buttons and menus may be used.
    void runningChanged(bool running);
    void settingsEnabled(bool on);
    void commandsEnabled(bool on);
    void progressChanged(int position, int maximum);
    void statusShown(const QString& text);
    void playerRebuildStarted();
    void playersRebuilt();
    void serverInfoCleared();
    void serverInfoShown(palisor::ServerBox box, const QString& text);
    void variablesChanged(const QStringList& variables);
    void actionMenuChanged(bool players);
    // Results the window shows in a message box or the response viewer.
    void messageReady(const QString& text);
    void responseReady(const QString& reply, const QString& title);
    void errorRaised(const QString& message);
    // The maintenance cycle needs the file: the other attachment closes (or
    // keeps it) and answers with AttachmentReleased, which the engine waits
    // for; after the cycle it may come back.
    void releaseRequested();
    void resumeAllowed();
    void monitorEvent(const palisor::MonitorEvent& event);
    // A commit (of any program on the data folder) changed the lists, which
    // the next poll reads again, or the settings row, which is read only by
    // whoever gives the engine its settings.
    void listsCommitted();
    void settingsCommitted();

private:
    // MonitorView
    QString HostText() const override { return settings_.host; }
    QString PortText() const override { return settings_.port; }
    QString PasswordText() const override { return settings_.password; }
    QString MaxPingText() const override { return settings_.maxPing; }
    void ShowStatus(const QString& text) override;
    void EnableSettings(bool on) override { emit settingsEnabled(on); }
    void RefreshActionMenu() override;
    void BeginPlayerRebuild() override { emit playerRebuildStarted(); }
    void EndPlayerRebuild() override { emit playersRebuilt(); }
    void ClearServerInfo() override;
    void ShowServerInfo(ServerBox box, const QString& text) override;
    void UpdateVariables() override;
    void BeforeExchange() override;
    void ReportEvent(const MonitorEvent& event) override { emit monitorEvent(event); }

    // Runs a request; its error goes to errorRaised, an interruption ends it quietly.
    template <typename Work>
    void Run(Work&& work);
    // Runs an administrator's request (what says which, for the log). It was
    // confirmed in the window, so the program's end does not cut it short;
    // but once one has failed while the program ends, those still queued are
    // logged and dropped rather than each waiting on the server in turn.
    template <typename Work>
    void RunAction(const QString& what, Work&& work);
    void SetMonitor(bool on);
    bool PollServer();   // false when left out for a cycle
    void SetProgress(int position);
    QString ServerAddress() const { return settings_.host + QLatin1Char(':') + settings_.port; }
    // The claim is kept only on a database that has it (one not upgraded
    // keeps working as before).
    bool HasClaims() const;
    // Stores the poll that just ended, or its error, and renews the claim;
    // throws when another monitor has taken the claim over meanwhile.
    void StorePoll(const QString& error);
    void ReleaseClaim();
    // Starts a fresh snapshot, re-reading the lists when a commit changed them.
    void SeeOtherCommits();
    // The same for a poll, which goes on from the lists in memory when the
    // database server turns out to be gone.
    void SeeListsOrLoseThem();
    void ReportMaintenance(const QString& state);
    QString ReleaseOtherAttachment();
    void ResumeOtherAttachment(bool completed);

    std::function<std::unique_ptr<TDataPalisor>()> makeData_;
    TRcon& rcon_;
    std::unique_ptr<TDataPalisor> data_;
    std::unique_ptr<TMonitor> monitor_;
    std::unique_ptr<AnnouncementScheduler> announcements_;
    QTimer* statusTimer_ = nullptr;
    QTimer* msgTimer_ = nullptr;
    MonitorSettings settings_;
    MonitorIdentity identity_ = MonitorIdentity::current();
    bool claimed_ = false;
    bool listsDirty_ = false;   // a commit changed them since they were read
    QString boxes_[5];   // the server information as last shown, by ServerBox
    bool running_ = false;
    bool polling_ = false;
    bool action_ = false;        // an administrator's request runs
    bool endingFailed_ = false;  // one failed after the program began to end
    int progress_ = 0;
    int progressMaximum_ = 1;
    std::atomic<bool> interruptPoll_{false};
    std::atomic<bool> interruptAll_{false};
    std::atomic<bool> otherAttachment_{false};
    QSemaphore released_;
    QString kept_;   // set before released_ is, read after it is taken
};

}  // namespace palisor

Q_DECLARE_METATYPE(palisor::ServerBox)
Q_DECLARE_METATYPE(palisor::MonitorEvent)
Q_DECLARE_METATYPE(palisor::MonitorSettings)
