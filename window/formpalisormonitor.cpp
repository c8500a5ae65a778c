// The main window's side of the server monitor: the requests it makes of the
// monitor engine and how it shows the engine's reports.
#include "window/formpalisor.h"

#include "core/dialogs.h"
#include "core/errorhandler.h"
#include "editors/formactionresponse.h"
#include "monitor/announcements.h"
#include "monitor/monitorthread.h"
#include "monitor/textrules.h"
#include "store/datapalisor.h"
#include "store/dbevents.h"
#include "store/letgo.h"
#include "widgets/menuutils.h"
#include "window/playergrid.h"
#include "window/settingsbinding.h"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScopeGuard>

namespace palisor {

void TformPalisor::ConnectMonitor()
{
    MonitorEngine& engine = monitor_->engine();
    // Each report is handled like any event of the window: an error while
    // showing it goes to the status bar.
    const auto show = [this](auto signal, auto handler) {
        connect(&monitor_->engine(), signal, this, [this, handler](auto... values) {
            Guarded([this, handler, values...] { (this->*handler)(values...); });
        });
    };
    show(&MonitorEngine::runningChanged, &TformPalisor::ShowRunning);
    show(&MonitorEngine::settingsEnabled, &TformPalisor::EnableSettings);
    show(&MonitorEngine::commandsEnabled, &TformPalisor::EnableCommands);
    show(&MonitorEngine::progressChanged, &TformPalisor::ShowProgress);
    show(&MonitorEngine::statusShown, &TformPalisor::ShowStatus);
    show(&MonitorEngine::playersRebuilt, &TformPalisor::ShowPlayers);
    show(&MonitorEngine::serverInfoCleared, &TformPalisor::ClearServerInfo);
    show(&MonitorEngine::serverInfoShown, &TformPalisor::ShowServerInfo);
    show(&MonitorEngine::actionMenuChanged, &TformPalisor::ShowActionMenu);
    show(&MonitorEngine::errorRaised, &TformPalisor::ApplicationException);
    connect(&engine, &MonitorEngine::playerRebuildStarted, this, [this] { PlayerGrid->setVisible(false); });
    connect(PlayerGrid, &TPlayerGrid::DeleteRequested, this, [this](const QString& clientId) {
        monitor_->post([clientId](MonitorEngine& engine) { engine.DeletePlayer(clientId); });
    });
    connect(&engine, &MonitorEngine::variablesChanged, this,
            [this](const QStringList& variables) { data_.Variables = variables; });
    connect(&engine, &MonitorEngine::messageReady, this,
            [](const QString& text) { Guarded([text] { dialogs().message(text); }); });
    connect(&engine, &MonitorEngine::responseReady, this, [this](const QString& reply, const QString& title) {
        Guarded([this, reply, title] { ShowResponse(reply, title, this); });
    });
    // The maintenance cycle moves the file aside: the window's attachment
    // closes meanwhile and comes back with what the window shows; the list
    // tables open again when a list window needs them.
    engine.setOtherAttachment(true);
    connect(&engine, &MonitorEngine::releaseRequested, this, [this] {
        // An open list window keeps the attachment: the engine puts the cycle
        // off to a later poll.
        if (listWindows_ > 0) {
            monitor_->engine().AttachmentReleased(QStringLiteral("a list window is open"));
            return;
        }
        awayForCycle_ = true;
        Guarded([this] { data_.DisconnectDatabase(); });
        monitor_->engine().AttachmentReleased();
    });
    connect(&engine, &MonitorEngine::resumeAllowed, this, [this] {
        awayForCycle_ = false;
        Guarded([this] {
            data_.Resynchronise({data_.tblSettings, data_.tblPlayers});
            PlayerGrid->ArrangeColumns();
        });
        CycleOver();
    });
    // A cycle run by another program asks through the database instead, and
    // the window comes back by itself once it has ended.
    letGo_ = new LetGoWatch(data_, [this] {
        data_.Resynchronise({data_.tblSettings, data_.tblPlayers});
        PlayerGrid->ArrangeColumns();
    }, this);
    connect(letGo_, &LetGoWatch::cameBack, this, &TformPalisor::CycleOver);
    connect(&data_, &TDataPalisor::notified, this, [this](const QString& event) {
        if (event == QLatin1String(SettingsEvent))
            SettingsCommitted();
    });
    data_.Listen({QLatin1String(SettingsEvent)});
}

void TformPalisor::SettingsCommitted()
{
    if (running_ || !settings_ || !data_.isConnected())
        return;
    Guarded([this] {
        data_.Resynchronise({data_.tblSettings});
        settings_->Load();
    });
}

void TformPalisor::PushSettings()
{
    const MonitorSettings settings{dbHost->text(), dbPort->text(), dbPswd->text(), dbScanTime->text(),
                                   dbMaxPing->text()};
    monitor_->post([settings](MonitorEngine& engine) { engine.SetSettings(settings); });
}

void TformPalisor::ShowRunning(bool running)
{
    const bool stopped = running_ && !running;
    running_ = running;
    btnStart->setText(running ? QStringLiteral("Stop") : QStringLiteral("Start"));
    ShowControls();
    // Another program may have claimed the server meanwhile.
    if (stopped)
        FollowClaim();
    ShowServerTabs();
}

void TformPalisor::ShowProgress(int position, int maximum)
{
    ProgressBar->setRange(0, maximum);
    ProgressBar->setValue(position);
}

void TformPalisor::EnableSettings(bool on) { EnableCommands(on); }

void TformPalisor::EnableCommands(bool on)
{
    commandsOn_ = on;
    ShowControls();
}

void TformPalisor::ShowControls()
{
    const bool stopped = !running_ && lockingRequests_ == 0;
    // A watched server's settings, its poll and its player table are the
    // other program's; its lists are everyone's.
    const bool settings = stopped && !watching_;
    for (QWidget* control : std::initializer_list<QWidget*>{btnStatus, btnClear, dbPswd, dbHost, dbPort, dbMaxPing, dbScanTime})
        control->setEnabled(settings);
    PlayerGrid->setEnabled(commandsOn_);
    PlayerGrid->DeleteAllowed = !watching_;
    btnExecCmd->setEnabled(commandsOn_);
    // Stop ends a running monitor after the exchange in progress, so it
    // is never refused during a poll.
    btnStart->setEnabled(commandsOn_ || running_);
    // The window's monitor stays on the server it monitors.
    tabServers->setEnabled(stopped);
    miRemoveServer->setEnabled(stopped && servers_.size() > 1);
}

void TformPalisor::PostLocking(std::function<void(MonitorEngine&)> request)
{
    ++lockingRequests_;
    ShowControls();
    monitor_->post([this, request = std::move(request)](MonitorEngine& engine) {
        request(engine);
        // After the reports the request made, so the window knows by then
        // whether the monitor runs.
        QMetaObject::invokeMethod(this, [this] {
            --lockingRequests_;
            ShowControls();
        }, Qt::QueuedConnection);
    });
}

void TformPalisor::ClearServerInfo()
{
    for (QLineEdit* box : {edHostName, edGameType, edPlyrCnt, edCurMap, edNextMap})
        box->clear();
}

void TformPalisor::RefreshActionMenu() { ShowActionMenu(data_.CountRows(data_.tblPlayers) > 0); }

void TformPalisor::ShowActionMenu(bool players)
{
    PopupPlayers->clear();
    miAction->setEnabled(players);
    if (players)
        CopyMenuItems(miAction, PopupPlayers);
}

void TformPalisor::ShowPlayers()
{
    PlayerGrid->setVisible(true);
    data_.Resynchronise({data_.tblPlayers});
    data_.tblPlayers->first();
    PlayerGrid->ArrangeColumns();
}

void TformPalisor::ShowServerInfo(ServerBox box, const QString& text)
{
    QLineEdit* target = nullptr;
    switch (box) {
    case ServerBox::HostName: target = edHostName; break;
    case ServerBox::GameType: target = edGameType; break;
    case ServerBox::PlyrCnt: target = edPlyrCnt; break;
    case ServerBox::CurMap: target = edCurMap; break;
    case ServerBox::NextMap: target = edNextMap; break;
    }
    target->setText(text);
    target->setCursorPosition(0);
    if (box == ServerBox::PlyrCnt) {
        const int tab = tabServers->currentIndex();
        if (tab >= 0)
            tabServers->setTabText(tab, ServerName() + (text.isEmpty() ? QString() : QLatin1Char(' ') + text));
    }
}

void TformPalisor::UpdateVariables()
{
    palisor::UpdateVariables(data_, VariableBoxes{dbHost->text(), edHostName->text(), edGameType->text(),
                                                  edCurMap->text(), edNextMap->text()});
}

QString TformPalisor::SubstituteVariables(const QString& text)
{
    return palisor::SubstituteVariables(text, data_.Variables, data_.VariableMark);
}

void TformPalisor::SendNow(const QString& command)
{
    PushSettings();
    monitor_->post([command](MonitorEngine& engine) { engine.SendNow(command); });
}

void TformPalisor::btnStartClick()
{
    ShowStatus(QString());
    if (running_) {
        monitor_->Stop();
        return;
    }
    if (watching_) {
        // The claim may have been given up or have lapsed unheard.
        FollowClaim();
        if (watching_) {
            ShowStatus(ClaimText());
            return;
        }
    }
    PushSettings();
    PostLocking([](MonitorEngine& engine) { engine.Start(); });
}

void TformPalisor::btnStatusClick()
{
    PushSettings();
    PostLocking([](MonitorEngine& engine) { engine.Status(); });
}

void TformPalisor::btnClearClick()
{
    monitor_->post([](MonitorEngine& engine) { engine.Clear(); });
}

void TformPalisor::btnExecCmdClick()
{
    PushSettings();
    const QString command = edCmd->text();
    monitor_->post([command](MonitorEngine& engine) { engine.ExecCmd(command); });
}

bool TformPalisor::AwayForCycle() const { return awayForCycle_ || letGo_->away(); }

bool TformPalisor::WaitForCycle()
{
    // Modal, so that nothing else of the window asks for the file meanwhile;
    // the engine's reports are still shown.
    QProgressDialog wait(QStringLiteral("The database is being compacted. The list opens when it is back."),
                         QStringLiteral("Cancel"), 0, 0, this);
    wait.setWindowTitle(windowTitle());
    wait.setAutoReset(false);
    wait.setAutoClose(false);
    wait.setMinimumDuration(0);
    cycleWait_ = &wait;
    const auto done = qScopeGuard([this] { cycleWait_ = nullptr; });
    return wait.exec() == QDialog::Accepted;
}

void TformPalisor::CycleOver()
{
    if (cycleWait_ && !AwayForCycle())
        cycleWait_->accept();
}

void TformPalisor::OpenListWindow(const QList<LiveTable*>& shown, const std::function<void()>& open)
{
    while (AwayForCycle()) {
        if (!WaitForCycle())
            return;
    }
    ++listWindows_;
    letGo_->hold(true);
    const auto closed = qScopeGuard([this] { letGo_->hold(--listWindows_ > 0); });
    QList<LiveTable*> tables = shown;
    for (LiveTable* table : data_.tables())
        if (!table->isOpen() && !tables.contains(table))
            tables.append(table);
    data_.Resynchronise(tables);
    const auto changed = qScopeGuard([this] {
        monitor_->post([](MonitorEngine& engine) { engine.ListsChanged(); });
    });
    open();
}

}  // namespace palisor
