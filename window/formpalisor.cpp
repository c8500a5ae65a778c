#include "window/formpalisor.h"

#include "rcon/rcon.h"

#include "core/errorhandler.h"
#include "core/places.h"
#include "core/termination.h"
#include "widgets/menuutils.h"
#include "editors/aboutme.h"
#include "editors/formactionresponse.h"
#include "editors/formhistory.h"
#include "editors/listwindows.h"
#include "monitor/monitorthread.h"
#include "window/playergrid.h"
#include "window/settingsbinding.h"
#include "window/statuspanel.h"
#include "monitor/textrules.h"
#include "window/windowplacement.h"
#include "store/datapalisor.h"
#include "store/settingrules.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QSystemTrayIcon>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <cstring>

namespace palisor {
namespace {

constexpr int kBoxHeight = 18;
const QColor kSilver(0xC0, 0xC0, 0xC0);
const QString kIniSection = QStringLiteral("Main");

// The About box's credit, web site and support address.
const QString kCredit = QStringLiteral("\r\nthe Palisor developers");
const QString kWebSite = QStringLiteral("http://palisor.example/");
const QString kSupport = QStringLiteral("support@palisor.example");

QLineEdit* MakeBox(QWidget* parent, int left, int top, int width, int maxLength = 32767)
{
    auto* box = new QLineEdit(parent);
    box->setGeometry(left, top, width, kBoxHeight);
    box->setMaxLength(maxLength);
    box->setTextMargins(0, 0, 0, 0);
    return box;
}

void MakeLabel(QWidget* parent, const QString& text, int left, int top)
{
    auto* label = new QLabel(text, parent);
    label->move(left, top - 15);
    label->adjustSize();
}

QLineEdit* MakeInfoBox(QWidget* parent, const QString& label, int left, int top)
{
    MakeLabel(parent, label, left, top);
    QLineEdit* box = MakeBox(parent, left, top, 161);
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::ClickFocus);
    QPalette p = box->palette();
    p.setColor(QPalette::Base, kSilver);
    box->setPalette(p);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, int left, int top)
{
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(left, top, 77, kBoxHeight);
    button->setAutoDefault(false);
    return button;
}

// The address an Internet shortcut points at: its "URL=" line. A relative
// address names a file beside the shortcut.
QUrl ShortcutTarget(const QString& shortcutPath)
{
    QFile file(shortcutPath);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    for (const QString& line : SplitLines(QString::fromLatin1(file.readAll()))) {
        if (!line.startsWith(QLatin1String("URL="), Qt::CaseInsensitive))
            continue;
        const QUrl url(TrimControls(line.mid(4)));
        if (!url.isRelative())
            return url;
        return QUrl::fromLocalFile(QFileInfo(shortcutPath).absoluteDir().absoluteFilePath(url.toString()));
    }
    return {};
}

}  // namespace

TformPalisor::TformPalisor(TDataPalisor& data, TRcon& rcon, QWidget* parent)
    : QMainWindow(parent),
      data_(data),
      rcon_(rcon),
      playerActions_(data, PlayerActionHooks{
                               [this](const QString& id, const QString& name, const QString& address,
                                      const QString& reason) {
                                   PushSettings();
                                   monitor_->post([=](MonitorEngine& e) { e.Kick(id, name, address, reason); });
                               },
                               [this](const QString& id, const QString& name, const QString& address,
                                      const QString& reason) {
                                   PushSettings();
                                   monitor_->post([=](MonitorEngine& e) { e.Ban(id, name, address, reason); });
                               },
                               [this](const QString& name) {
                                   PushSettings();
                                   monitor_->post([name](MonitorEngine& e) { e.Dumpuser(name); });
                               },
                           })
{
    setWindowTitle(QStringLiteral("Palisor"));
    setWindowIcon(QIcon(QStringLiteral(":/palisor/palisor.png")));
    setFont(CourierFont(8));
    resize(553, 544);

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    setCentralWidget(central);
    BuildTopPanel();
    BuildBottomPanel();
    layout->addWidget(PanelTop);
    layout->addWidget(PanelBottom, 1);
    BuildMenus();
    BuildTray();
    monitor_ = EngineFor(data_.ServerId()).thread.get();
    ConnectMonitor();

    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { Guarded([this] { LoopEnded(); }); });
#ifndef QT_NO_SESSIONMANAGER
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this] { Guarded([this] { ShutdownQuery(); }); });
#endif

    // Centred on the screen unless a saved position applies.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }

    try {
        FormCreate();
        RestorePlacement();
    } catch (const std::exception& e) {
        ApplicationException(QString::fromStdString(e.what()));
    }
}

TformPalisor::~TformPalisor()
{
    // The engines end first, within their current exchange, with their
    // attachments.
    monitor_ = nullptr;
    engines_.clear();
    Guarded([this] { EmptyPlayersOfMonitoredServers(); });
    setApplicationErrorHandler({});
    if (!placementSaved_)
        Guarded([this] { SavePlacement(); });
}

void TformPalisor::BuildTopPanel()
{
    PanelTop = new QWidget(this);
    PanelTop->setFixedHeight(217);

    MakeLabel(PanelTop, QStringLiteral("Server IP Address"), 21, 24);
    dbHost = MakeBox(PanelTop, 21, 24, 161, SettingLength(QStringLiteral("ADDRESS")));
    MakeLabel(PanelTop, QStringLiteral("Server Port"), 21, 64);
    dbPort = MakeBox(PanelTop, 21, 64, 161, SettingLength(QStringLiteral("PORT")));
    MakeLabel(PanelTop, QStringLiteral("RCON Password"), 21, 104);
    dbPswd = MakeBox(PanelTop, 21, 104, 161, SettingLength(QStringLiteral("PASSWORD")));
    dbPswd->setEchoMode(QLineEdit::Password);
    dbPswd->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));   // "*"
    MakeLabel(PanelTop, QStringLiteral("Scan Time"), 189, 104);
    dbScanTime = MakeBox(PanelTop, 189, 104, 77, SettingLength(QStringLiteral("SCANTIME")));
    MakeLabel(PanelTop, QStringLiteral("Max Ping"), 273, 104);
    dbMaxPing = MakeBox(PanelTop, 273, 104, 77, SettingLength(QStringLiteral("MAXPING")));
    dbSorted = MakeBox(PanelTop, 392, 128, 126, 15);
    dbSorted->setVisible(false);

    edHostName = MakeInfoBox(PanelTop, QStringLiteral("Server Name"), 189, 24);
    edGameType = MakeInfoBox(PanelTop, QStringLiteral("Game Type"), 189, 64);
    edPlyrCnt = MakeInfoBox(PanelTop, QStringLiteral("Number of Players"), 357, 24);
    edCurMap = MakeInfoBox(PanelTop, QStringLiteral("Current Map"), 357, 64);
    edNextMap = MakeInfoBox(PanelTop, QStringLiteral("Next Map"), 357, 104);

    btnStatus = MakeButton(PanelTop, QStringLiteral("Status"), 21, 128);
    btnClear = MakeButton(PanelTop, QStringLiteral("Clear"), 104, 128);
    btnStart = MakeButton(PanelTop, QStringLiteral("Start"), 21, 152);
    btnExecCmd = MakeButton(PanelTop, QStringLiteral("Exec Cmd"), 104, 152);
    MakeLabel(PanelTop, QStringLiteral("RCON Command To Execute"), 189, 152);
    edCmd = MakeBox(PanelTop, 189, 152, 329);

    ProgressBar = new QProgressBar(PanelTop);
    ProgressBar->setGeometry(21, 184, 498, kBoxHeight);
    ProgressBar->setTextVisible(false);
    // A zero maximum would turn the bar into a busy indicator; it stays empty
    // until the monitor starts and sets the scan time as its maximum.
    ProgressBar->setRange(0, 1);
    ProgressBar->setValue(0);

    QWidget* order[] = {btnStart, dbHost, dbPort, dbPswd, dbScanTime, dbMaxPing, edCmd, btnExecCmd, btnStatus, btnClear};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    connect(btnStart, &QPushButton::clicked, this, [this] { Guarded([this] { btnStartClick(); }); });
    connect(btnStatus, &QPushButton::clicked, this, [this] { Guarded([this] { btnStatusClick(); }); });
    connect(btnClear, &QPushButton::clicked, this, [this] { Guarded([this] { btnClearClick(); }); });
    connect(btnExecCmd, &QPushButton::clicked, this, [this] { Guarded([this] { btnExecCmdClick(); }); });
    connect(edCmd, &QLineEdit::returnPressed, this, [this] {
        if (btnExecCmd->isEnabled())
            btnExecCmd->click();
    });
    edCmd->installEventFilter(this);

    settings_ = new SettingsBinding(*data_.tblSettings, this);
    const std::pair<QLineEdit*, const char*> fields[] = {{dbHost, "ADDRESS"},   {dbPort, "PORT"},
                                                         {dbPswd, "PASSWORD"},  {dbScanTime, "SCANTIME"},
                                                         {dbMaxPing, "MAXPING"}, {dbSorted, "SORTED"}};
    for (const auto& [box, field] : fields) {
        settings_->Bind(box, QLatin1String(field));
        if (box != dbSorted)
            box->installEventFilter(this);
    }
    for (QLineEdit* box : {dbPort, dbScanTime, dbMaxPing}) {
        connect(box, &QLineEdit::textChanged, this, [this, box] { Guarded([this, box] { dbNumberChange(box); }); });
        dbNumberChange(box);
    }
}

void TformPalisor::BuildBottomPanel()
{
    PanelBottom = new QWidget(this);
    PanelBottom->setAutoFillBackground(true);
    QPalette p = PanelBottom->palette();
    p.setColor(QPalette::Window, Qt::white);
    PanelBottom->setPalette(p);

    BuildServerTabs();
    PlayerGrid = new TPlayerGrid(*data_.tblPlayers, PanelBottom);
    connect(PlayerGrid, &TPlayerGrid::TitleClicked, this,
            [this](const QString& field) { Guarded([this, field] { PlayerGridTitleClick(field); }); });

    StatusBar = new QStatusBar(PanelBottom);
    StatusBar->setFixedHeight(20);
    StatusPanel = new TStatusPanel(StatusBar);
    StatusBar->addWidget(StatusPanel, 1);
    StatusBar->addPermanentWidget(lbServers);

    auto* layout = new QVBoxLayout(PanelBottom);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tabServers);
    layout->addWidget(PlayerGrid, 1);
    layout->addWidget(StatusBar);
}

void TformPalisor::BuildMenus()
{
    const auto handler = [this](QAction* action, void (TformPalisor::*method)()) {
        connect(action, &QAction::triggered, this, [this, method] { Guarded([this, method] { (this->*method)(); }); });
    };
    const auto editor = [this](QAction* action, void (*open)(TDataPalisor&, QWidget*), QList<LiveTable*> shown) {
        connect(action, &QAction::triggered, this, [this, open, shown] {
            Guarded([this, open, shown] { OpenListWindow(shown, [this, open] { open(data_, this); }); });
        });
    };

    miFile = menuBar()->addMenu(QStringLiteral("&File"));
    miExit = miFile->addAction(QStringLiteral("E&xit"));
    handler(miExit, &TformPalisor::miExitClick);

    miEdit = menuBar()->addMenu(QStringLiteral("&Edit"));
    miBanned = miEdit->addAction(QStringLiteral("&Banned Players"));
    miRecent = miEdit->addAction(QStringLiteral("&Recent Players"));
    miImmune = miEdit->addAction(QStringLiteral("&Immune Players"));
    miIllegal = miEdit->addAction(QStringLiteral("Illegal &Names"));
    miAnnouncements = miEdit->addAction(QStringLiteral("&Announcements"));
    miMapAliases = miEdit->addAction(QStringLiteral("&Map Aliases"));
    miHistory = miEdit->addAction(QStringLiteral("&History"));
    // Each list window re-reads the tables it shows (banning from the recent
    // players re-reads the banned ones); the History window reads what the
    // engine committed.
    editor(miBanned, &ShowBannedPlayers, {data_.tblBanned});
    editor(miRecent, &ShowRecentPlayers, {data_.tblRecent, data_.tblBanned});
    editor(miImmune, &ShowImmunePlayers, {data_.tblImmune});
    editor(miIllegal, &ShowIllegalNames, {data_.tblIllegal});
    editor(miMapAliases, &ShowMapAliases, {data_.tblMapAlias});
    editor(miHistory, &ShowHistory, {});
    connect(miAnnouncements, &QAction::triggered, this, [this] {
        Guarded([this] {
            OpenListWindow({data_.tblMessages, data_.tblSettings}, [this] { ShowAnnouncements(data_, *this, this); });
        });
    });

    BuildServerMenu();
    miAction = menuBar()->addMenu(QStringLiteral("&Action"));
    actKick = miAction->addAction(QStringLiteral("&Kick Player"));
    actBan = miAction->addAction(QStringLiteral("&Ban Player"));
    actDumpuser = miAction->addAction(QStringLiteral("&Dump User"));
    connect(actKick, &QAction::triggered, this, [this] { Guarded([this] { playerActions_.actKickExecute(); }); });
    connect(actBan, &QAction::triggered, this, [this] { Guarded([this] { playerActions_.actBanExecute(); }); });
    connect(actDumpuser, &QAction::triggered, this,
            [this] { Guarded([this] { playerActions_.actDumpuserExecute(); }); });

    miHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    miManual = miHelp->addAction(QStringLiteral("&Palisor Manual"));
    miAbout = miHelp->addAction(QStringLiteral("&About Palisor"));
    handler(miManual, &TformPalisor::miManualClick);
    handler(miAbout, &TformPalisor::miAboutClick);

    PopupPlayers = new QMenu(this);
    PlayerGrid->PopupPlayers = PopupPlayers;
}

void TformPalisor::BuildTray()
{
    PopupTray = new QMenu(this);
    miRestore = PopupTray->addAction(QStringLiteral("&Restore"));
    miTrayExit = PopupTray->addAction(QStringLiteral("E&xit"));
    connect(miRestore, &QAction::triggered, this, &TformPalisor::miRestoreClick);
    connect(miTrayExit, &QAction::triggered, this, [this] { Guarded([this] { miExitClick(); }); });
    connect(PopupTray, &QMenu::aboutToShow, this, &TformPalisor::PopupTrayPopup);

    tiPalisor = new QSystemTrayIcon(windowIcon(), this);
    tiPalisor->setToolTip(QStringLiteral("Palisor"));
    tiPalisor->setContextMenu(PopupTray);
    connect(tiPalisor, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            miRestoreClick();
    });
}

void TformPalisor::FormCreate()
{
    setApplicationErrorHandler([this](const QString& message) { ApplicationException(message); });
    ExitRequested = false;
    RefreshActionMenu();
    SortPlayers(data_.tblSettings->text(QStringLiteral("SORTED")));
    PlayerGrid->ArrangeColumns();
    PushSettings();
    ListenToOthers();
    FollowClaim();
    ShowServerTabs();
}

void TformPalisor::SortPlayers(const QString& field)
{
    data_.SortTable(field, data_.tblPlayers);
    PlayerGrid->ArrangeColumns();
}

void TformPalisor::PlayerGridTitleClick(const QString& field)
{
    SortPlayers(field);
    dbSorted->setText(field);
    settings_->Commit(dbSorted);
}

void TformPalisor::dbNumberChange(QLineEdit* box)
{
    const QString text = NumberBoxText(box->text());
    if (text == box->text())
        return;
    const bool typed = box->isModified();
    box->setText(text);
    box->setModified(typed);
}

void TformPalisor::CommitDBEdit(QLineEdit* box)
{
    settings_->Commit(box);
    PushSettings();
}

bool TformPalisor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == edCmd && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // Enter in the command box runs the command.
        btnExecCmd->setDefault(event->type() == QEvent::FocusIn);
    } else if (event->type() == QEvent::FocusOut &&
               static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        if (auto* box = qobject_cast<QLineEdit*>(watched))
            Guarded([this, box] { CommitDBEdit(box); });
    }
    return QMainWindow::eventFilter(watched, event);
}

QString TformPalisor::StatusText() const { return StatusPanel->FullText(); }

void TformPalisor::ShowStatus(const QString& text)
{
    // The panel is one line high: line breaks in a message become blanks.
    QString line = TrimControls(text);
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    // Painted with the next frame: the poll runs on the engine's thread, so
    // the window's loop is free to paint, and a forced paint per message
    // would cost a frame each.
    StatusPanel->SetFullText(line);
    StatusPanel->update();
}

void TformPalisor::ApplicationException(const QString& message)
{
    ShowStatus(message);
    data_.WriteLog(QStringLiteral("Exception: ") + message);
    QCoreApplication::processEvents();
}

QString TformPalisor::IniPath() { return ProgramPlaces().iniFile; }

void TformPalisor::RestorePlacement()
{
    const IniFile ini(IniPath());
    const QString ppi = QString::number(logicalDpiY());
    if (ini.Read(kIniSection, QStringLiteral("PixelsPerInch")).value_or(ppi) != ppi)
        return;
    const auto rect = ParseNormalPos(ini.Read(kIniSection, QStringLiteral("NormalPos")).value_or(QString()),
                                     geometry());
    if (!rect)
        return;
    QRect placed = *rect;
    // Like the system's own placement, never put the window wholly off every screen.
    bool visible = false;
    for (const QScreen* screen : QGuiApplication::screens())
        visible = visible || screen->availableGeometry().intersects(placed);
    if (!visible && QGuiApplication::primaryScreen())
        placed.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
    setGeometry(placed);
}

void TformPalisor::SavePlacement()
{
    IniFile ini(IniPath());
    const QRect normal = isMaximized() || isMinimized() ? normalGeometry() : geometry();
    const int showCmd = isMinimized() ? 2 : isMaximized() ? 3 : 1;
    const QColor background = palette().color(QPalette::Window);
    ini.Write(kIniSection, QStringLiteral("Flags"), QString::number(isMaximized() ? 2 : 0));
    ini.Write(kIniSection, QStringLiteral("ShowCmd"), QString::number(showCmd));
    ini.Write(kIniSection, QStringLiteral("NormalPos"), FormatNormalPos(normal));
    ini.Write(kIniSection, QStringLiteral("PixelsPerInch"), QString::number(logicalDpiY()));
    ini.Write(kIniSection, QStringLiteral("Color"),
              QString::number(background.red() | background.green() << 8 | background.blue() << 16));
    ini.Save();
    placementSaved_ = true;
}

bool TformPalisor::TrayAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }

void TformPalisor::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (shownOnce_)
        return;
    shownOnce_ = true;
    if (CanHideInTray())
        return;
    // An error of the window's creation already in the panel keeps its place.
    const QString notice = QStringLiteral("No system tray: Minimize and Close act on the window itself");
    if (StatusText().isEmpty())
        ShowStatus(notice);
    else
        data_.WriteLog(notice);
}

bool TformPalisor::CanHideInTray()
{
    // On X11 the icon is asked for even without a notification area: Qt puts
    // it into one as soon as one appears. Other displays offer no such watch,
    // so there it is asked for once a notification area exists. The window
    // hides only behind an icon it can see.
    const bool watched = QGuiApplication::platformName() == QLatin1String("xcb");
    if (!tiPalisor->isVisible() && (watched || TrayAvailable()))
        tiPalisor->show();
    return TrayAvailable();
}

void TformPalisor::HideToTray()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
}

void TformPalisor::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && CanHideInTray())
        QTimer::singleShot(0, this, &TformPalisor::HideToTray);
}

void TformPalisor::closeEvent(QCloseEvent* event)
{
    // Without a notification area a hidden window could not be brought back,
    // so closing it ends the program.
    if (!ExitRequested && !CanHideInTray())
        ExitRequested = true;
    hide();
    if (!ExitRequested) {
        event->ignore();
        return;
    }
    event->accept();
    // The engines' work ends after their current exchange, while the program
    // pauses before it ends.
    for (auto& [id, engine] : engines_)
        engine.thread->Exit();
    Guarded([this] { SavePlacement(); });
    // Closing a window that was already hidden (Exit from the tray) does not
    // end the message loop by itself.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

void TformPalisor::miExitClick()
{
    ExitRequested = true;
    close();
}

void TformPalisor::LoopEnded()
{
    if (ExitRequested)
        return;
    if (const int signal = TerminationSignal())
        data_.WriteLog(QStringLiteral("Exit Called by SIG") + QLatin1String(sigabbrev_np(signal)));
    miExitClick();
}

void TformPalisor::miRestoreClick()
{
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TformPalisor::PopupTrayPopup() { miRestore->setVisible(isHidden()); }

void TformPalisor::ShutdownQuery()
{
    data_.WriteLog(QStringLiteral("Exit Called by Windows"));
    ExitRequested = true;
    close();
}

void TformPalisor::miManualClick()
{
    const QUrl manual = ShortcutTarget(ProgramPlaces().manualShortcut());
    if (manual.isValid())
        QDesktopServices::openUrl(manual);
}

void TformPalisor::miAboutClick() { ShowAbout(kCredit, kWebSite, kSupport, this); }

}  // namespace palisor
