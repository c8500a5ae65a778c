#pragma once

#include "editors/announcementhost.h"
#include "monitor/announcements.h"
#include "monitor/monitor.h"
#include "monitor/playeractions.h"

#include <QMainWindow>
#include <QStringList>
#include <memory>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QSystemTrayIcon;
class QTimer;

namespace palisor {

class SettingsBinding;
class TDataPalisor;
class TPlayerGrid;
class TRcon;
class TStatusPanel;

// The program's one main window: the settings of the monitored server, the
// server information, the player list, the buttons that drive the monitor,
// the menus and the tray icon.
class TformPalisor : public QMainWindow, public AnnouncementHost, private MonitorView {
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
    TPlayerGrid* PlayerGrid;
    QStatusBar* StatusBar;
    TStatusPanel* StatusPanel;
    QTimer* StatusTimer;
    QTimer* MsgTimer;

    QMenu* miFile;
    QMenu* miEdit;
    QMenu* miAction;
    QMenu* miHelp;
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

    // The monitor (operations of the running poll cycle).
    QString SendCommand(const QString& command) override;
    void SetMonitor(bool on);
    void PollServer();
    void RefreshServer();
    void StatusTimerTimer();
    void EnableSettings(bool on) override;
    void EnableCommands(bool on);
    void ClearServerInfo() override;
    void ClearPlayers();
    void RefreshActionMenu() override;
    bool MonitorRunning() const;
    TMonitor& Monitor() { return monitor_; }

    // Announcements.
    void UpdateVariables() override;
    QString SubstituteVariables(const QString& text) override;
    void MsgTimerTimer();
    AnnouncementScheduler& Announcements() { return announcements_; }

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
    // MonitorView: the settings as the boxes show them, and the poll's display.
    QString HostText() const override;
    QString PortText() const override;
    QString PasswordText() const override;
    QString MaxPingText() const override;
    void ShowStatus(const QString& text) override;
    void BeginPlayerRebuild() override;
    void EndPlayerRebuild() override;
    void ShowServerInfo(ServerBox box, const QString& text) override;

    void BuildTopPanel();
    void BuildBottomPanel();
    void BuildMenus();
    void BuildTray();
    void FormCreate();
    void SortPlayers(const QString& field);
    void RestorePlacement();
    void SavePlacement();
    void HideToTray();
    // Shows the tray icon once the desktop has a notification area; whether
    // it shows, so that the window hides only where it can be brought back.
    bool TrayIconShown();

    TDataPalisor& data_;
    TRcon& rcon_;
    TMonitor monitor_;
    AnnouncementScheduler announcements_;
    PlayerActionHandlers playerActions_;
    SettingsBinding* settings_ = nullptr;
    bool placementSaved_ = false;
    bool shownOnce_ = false;
};

}  // namespace palisor
