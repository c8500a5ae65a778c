#pragma once

#include "editors/announcementhost.h"
#include "monitor/monitor.h"
#include "monitor/playeractions.h"
#include "store/monitorclaim.h"
#include "store/servers.h"

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QProgressDialog;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTabBar;
class QTimer;

namespace palisor {

class LetGoWatch;
class LiveTable;
class MonitorEngine;
class MonitorThread;
class ServerProbe;
class SettingsBinding;
class TDataPalisor;
class TPlayerGrid;
class TRcon;
class TStatusPanel;

// The program's one main window: the settings of the monitored server, the
// server information, the player list, the buttons that drive the monitor,
// the menus and the tray icon. The monitor itself runs in the monitor engine
// on its own thread: the window asks it for work and shows what it reports,
// so the window answers while the engine waits on the server.
class TformPalisor : public QMainWindow, public AnnouncementHost {
    Q_OBJECT
public:
    TformPalisor(TDataPalisor& data, TRcon& rcon, QWidget* parent = nullptr);
    ~TformPalisor() override;

    // Controls, named as the administrator's manual names them.
    QWidget* PanelTop;
    QWidget* PanelBottom;
    QLineEdit* dbHost;
    QLineEdit* dbPort;
    QLineEdit* dbPswd;
    QLineEdit* dbScanTime;
    QLineEdit* dbMaxPing;
    QLineEdit* dbSorted;
    QLineEdit* edHostName;
    QLineEdit* edGameType;
    QLineEdit* edPlyrCnt;
    QLineEdit* edCurMap;
    QLineEdit* edNextMap;
    QLineEdit* edCmd;
    QPushButton* btnStatus;
    QPushButton* btnClear;
    QPushButton* btnStart;
    QPushButton* btnExecCmd;
    QProgressBar* ProgressBar;
    // One tab per game server of the database, its text the name and the
    // players ("Objective 12/32"); the window works for the selected one.
    QTabBar* tabServers;
    // With several servers, how many are monitored and their players, at the
    // status bar's right end (the tray icon's tooltip says the same).
    QLabel* lbServers;
    TPlayerGrid* PlayerGrid;
    QStatusBar* StatusBar;
    TStatusPanel* StatusPanel;

    QMenu* miFile;
    QMenu* miEdit;
    QMenu* miAction;
    QMenu* miHelp;
    QMenu* miServer;
    QAction* miAddServer;
    QAction* miRenameServer;
    QAction* miRemoveServer;
    QAction* miExit;
    QAction* miBanned;
    QAction* miRecent;
    QAction* miImmune;
    QAction* miIllegal;
    QAction* miAnnouncements;
    QAction* miMapAliases;
    QAction* miHistory;
    QAction* miManual;
    QAction* miAbout;
    QAction* actKick;
    QAction* actBan;
    QAction* actDumpuser;
    QMenu* PopupPlayers;

    QSystemTrayIcon* tiPalisor;
    QMenu* PopupTray;
    QAction* miRestore;
    QAction* miTrayExit;

    bool ExitRequested = false;

    // The monitor as the window shows it. The engine reports when a poll
    // begins (settings and commands off) and ends (commands, or both, on);
    // the settings stay off while the monitor runs or a Start or Status is
    // on its way to the engine.
    void EnableSettings(bool on);
    void EnableCommands(bool on);
    void ClearServerInfo();
    void RefreshActionMenu();
    bool MonitorRunning() const { return running_; }
    // Another program monitors the server: the grid, the information boxes
    // and the Action menu show what its polls store, the server's settings
    // follow the stored row, and Start names that program instead of
    // starting. The list windows and the manual actions work as ever.
    bool Watching() const { return watching_; }
    // The selected server's engine.
    MonitorThread& Monitor() { return *monitor_; }

    // Announcements.
    void UpdateVariables() override;
    QString SubstituteVariables(const QString& text) override;
    void SendNow(const QString& command) override;

    // Handlers of the controls and menus.
    void btnStartClick();
    void btnStatusClick();
    void btnClearClick();
    void btnExecCmdClick();
    void dbNumberChange(QLineEdit* box);
    void CommitDBEdit(QLineEdit* box);
    void PlayerGridTitleClick(const QString& field);
    void miExitClick();
    void miRestoreClick();
    void PopupTrayPopup();
    void miManualClick();
    void tabServersChange(int index);
    void miAddServerClick();
    void miRenameServerClick();
    // Asks first; refused while a program monitors the server.
    void miRemoveServerClick();
    void miAboutClick();
    // The desktop session is ending: exit without asking anything.
    void ShutdownQuery();
    void ApplicationException(const QString& message);

    // The whole text of the status bar's panel (it shows as much as fits).
    QString StatusText() const;
    // Where the window's placement is kept: Palisor.INI beside the executable,
    // or in the user's settings folder for an installed copy.
    static QString IniPath();

protected:
    // Whether the desktop has a notification area to hide the window into.
    virtual bool TrayAvailable() const;

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ShowStatus(const QString& text);
    void ShowActionMenu(bool players);
    void ShowPlayers();
    void ShowServerInfo(ServerBox box, const QString& text);
    void ShowProgress(int position, int maximum);
    void ShowRunning(bool running);
    void ShowControls();
    void ConnectMonitor();
    // Each server the window works for has an engine of its own, made the
    // first time it is needed, so that several servers are monitored at
    // once; what an engine reports shows when its tab is selected.
    struct ServerEngine {
        std::unique_ptr<TRcon> rcon;   // none for the first: the window's own
        std::unique_ptr<MonitorThread> thread;
        bool running = false;
        bool commandsOn = true;
        int lockingRequests = 0;
        QString boxes[5];   // the server information, by ServerBox
        QString status;
        int progress = 0, progressMaximum = 0;
    };
    ServerEngine& EngineFor(int id);
    void ConnectEngine(int id, MonitorEngine& engine);
    // The engines' last reports of that server, on its tab.
    void ShowEngineState(const ServerEngine& state);
    void ShowTabPlayers(int id, const QString& players);
    // After the engines have ended: the players of the servers the window
    // monitored are nobody's now (the selected one's are emptied with the
    // data module).
    void EmptyPlayersOfMonitoredServers();
    // The database events that tell the window of another program's claim
    // and polls.
    void ListenToOthers();
    // Who monitors the server, read afresh: enters or leaves the watching,
    // and while watching shows what the last stored poll saw.
    void FollowClaim();
    void ShowStoredPoll(bool entering);
    QString ClaimText() const;
    // Start and Status: what the running monitor forbids is disabled as the
    // request leaves, so that no setting changes before the engine takes it
    // up.
    void PostLocking(std::function<void(MonitorEngine&)> request);
    // The program's message loop ended without Exit (a signal): the same
    // shut-down as Exit, so the engine stops before the exit pause.
    void LoopEnded();
    // The boxes' texts go to the engine before each request that uses them.
    void PushSettings();
    // Another program changed the settings row: the boxes show it, unless
    // this window monitors (its boxes are then what the monitor uses).
    void SettingsCommitted();
    // A list window shows what the engine committed, and the engine sees
    // what the list window changed before its next poll. Asked for while a
    // maintenance cycle has the file, it opens once the file is back.
    void OpenListWindow(const QList<LiveTable*>& shown, const std::function<void()>& open);
    bool AwayForCycle() const;
    // Shows that the list waits for the cycle; false when the administrator
    // gave up waiting.
    bool WaitForCycle();
    void CycleOver();

    void BuildServerTabs();
    void BuildServerMenu();
    // The tabs as the database has the servers now, with their players.
    void ShowServerTabs();
    // The window works for that server from now on (only while its own
    // monitor is stopped).
    void SwitchServer(int id);
    QString ServerName() const;
    void BuildTopPanel();
    void BuildBottomPanel();
    void BuildMenus();
    void BuildTray();
    void FormCreate();
    void SortPlayers(const QString& field);
    void RestorePlacement();
    void SavePlacement();
    void HideToTray();
    // Asks for the tray icon; whether the desktop has a notification area to
    // show it in, so that the window hides only where it can be brought back.
    bool CanHideInTray();

    TDataPalisor& data_;
    TRcon& rcon_;   // the first engine's; the others' copy its settings
    std::map<int, ServerEngine> engines_;
    MonitorThread* monitor_ = nullptr;
    PlayerActionHandlers playerActions_;
    bool running_ = false;
    bool commandsOn_ = true;
    bool watching_ = false;
    MonitorClaim claim_;      // the other program's, while watching
    QString pollError_;       // what the last stored poll failed with
    QTimer* claimLapse_ = nullptr;   // when the watched claim goes stale unless renewed
    int lockingRequests_ = 0;   // Start and Status requests the engine has not yet done
    // The list windows work on the window's attachment, which a maintenance
    // cycle takes away (the engine's own, or another program's through
    // letGo_): while one is open the cycle waits for a later poll.
    int listWindows_ = 0;
    bool awayForCycle_ = false;
    LetGoWatch* letGo_ = nullptr;
    ServerProbe* probe_ = nullptr;   // whether a database server that went takes connections again
    QProgressDialog* cycleWait_ = nullptr;   // while a list waits for the cycle
    SettingsBinding* settings_ = nullptr;
    QList<ServerEntry> servers_;   // as the tabs show them
    QList<int> monitored_;         // the servers the window's engines have monitored
    bool fillingTabs_ = false;
    bool placementSaved_ = false;
    bool shownOnce_ = false;
};

}  // namespace palisor
