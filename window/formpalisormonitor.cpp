// The main window's side of the server monitor: the requests it makes of the
// monitor engine and how it shows the engine's reports.
#include "window/formpalisor.h"

#include "core/dialogs.h"
#include "core/errorhandler.h"
#include "editors/formactionresponse.h"
#include "monitor/announcements.h"
#include "monitor/monitorthread.h"
#include "monitor/textrules.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"
#include "store/dbevents.h"
#include "store/letgo.h"
#include "store/outage.h"
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
    connect(PlayerGrid, &TPlayerGrid::DeleteRequested, this, [this](const QString& clientId) {
        monitor_->post([clientId](MonitorEngine& engine) { engine.DeletePlayer(clientId); });
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
    // The window's own attachment to a database server that went: said in
    // the status bar when noticed and when it is back, never at every poll.
    connect(&data_, &TDataPalisor::databaseLost, this,
            [this](const QString& error) { ShowStatus(QStringLiteral("The database server is gone: ") + error); });
    connect(&data_, &TDataPalisor::databaseBack, this,
            [this] { ShowStatus(QStringLiteral("The database server is back")); });
}

TformPalisor::ServerEngine& TformPalisor::EngineFor(int id)
{
    const auto found = engines_.find(id);
    if (found != engines_.end())
        return found->second;
    ServerEngine& made = engines_[id];
    TRcon* rcon = &rcon_;
    if (engines_.size() > 1) {
        made.rcon = std::make_unique<TRcon>();
        made.rcon->ExchangePause = rcon_.ExchangePause;
        made.rcon->ReceiveTimeout = rcon_.ReceiveTimeout;
        made.rcon->BufferSize = rcon_.BufferSize;
        rcon = made.rcon.get();
    }
    made.thread = std::make_unique<MonitorThread>(data_.Maker(), *rcon);
    ConnectEngine(id, made.thread->engine());
    return made;
}

void TformPalisor::ConnectEngine(int id, MonitorEngine& engine)
{
    // What an engine reports is kept for its tab, and shown at once when its
    // tab is selected; each report is handled like any event of the window:
    // an error while showing it goes to the status bar.
    const auto selected = [this, id] { return id == data_.ServerId(); };
    connect(&engine, &MonitorEngine::runningChanged, this, [this, id, selected](bool running) {
        engines_[id].running = running;
        if (running && !monitored_.contains(id))
            monitored_.append(id);
        if (!selected())
            Guarded([this] { ShowServerTabs(); });
    });
    connect(&engine, &MonitorEngine::commandsEnabled, this, [this, id](bool on) { engines_[id].commandsOn = on; });
    connect(&engine, &MonitorEngine::settingsEnabled, this, [this, id](bool on) { engines_[id].commandsOn = on; });
    connect(&engine, &MonitorEngine::progressChanged, this, [this, id](int position, int maximum) {
        engines_[id].progress = position;
        engines_[id].progressMaximum = maximum;
    });
    connect(&engine, &MonitorEngine::statusShown, this, [this, id](const QString& text) { engines_[id].status = text; });
    connect(&engine, &MonitorEngine::serverInfoCleared, this, [this, id] {
        for (QString& box : engines_[id].boxes)
            box.clear();
    });
    connect(&engine, &MonitorEngine::serverInfoShown, this, [this, id, selected](ServerBox box, const QString& text) {
        engines_[id].boxes[int(box)] = text;
        if (box == ServerBox::PlyrCnt && !selected())
            ShowTabPlayers(id, text);
    });
    connect(&engine, &MonitorEngine::errorRaised, this, [this, id, selected](const QString& message) {
        if (!selected())
            Guarded([this, id, message] { ShowStatus(engines_[id].status = message); });
    });
    const auto show = [this, &engine, selected](auto signal, auto handler) {
        connect(&engine, signal, this, [this, selected, handler](auto... values) {
            if (selected())
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
    connect(&engine, &MonitorEngine::playerRebuildStarted, this, [this, selected] {
        if (selected())
            PlayerGrid->setVisible(false);
    });
    connect(&engine, &MonitorEngine::variablesChanged, this, [this, selected](const QStringList& variables) {
        if (selected())
            data_.Variables = variables;
    });
    connect(&engine, &MonitorEngine::messageReady, this,
            [](const QString& text) { Guarded([text] { dialogs().message(text); }); });
    connect(&engine, &MonitorEngine::responseReady, this, [this](const QString& reply, const QString& title) {
        Guarded([this, reply, title] { ShowResponse(reply, title, this); });
    });
    // The maintenance cycle moves the file aside: the window's attachment
    // closes meanwhile and comes back with what the window shows; the list
    // tables open again when a list window needs them.
    engine.setOtherAttachment(true);
    connect(&engine, &MonitorEngine::releaseRequested, this, [this, &engine] {
        // An open list window keeps the attachment: the engine puts the cycle
        // off to a later poll.
        if (listWindows_ > 0) {
            engine.AttachmentReleased(QStringLiteral("a list window is open"));
            return;
        }
        awayForCycle_ = true;
        Guarded([this] { data_.DisconnectDatabase(); });
        engine.AttachmentReleased();
    });
    connect(&engine, &MonitorEngine::resumeAllowed, this, [this] {
        awayForCycle_ = false;
        Guarded([this] {
            data_.Resynchronise({data_.tblSettings, data_.tblPlayers});
            PlayerGrid->ArrangeColumns();
        });
        CycleOver();
    });
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
    miRemoveServer->setEnabled(stopped && servers_.size() > 1);
}

void TformPalisor::PostLocking(std::function<void(MonitorEngine&)> request)
{
    const int id = data_.ServerId();
    lockingRequests_ = ++engines_[id].lockingRequests;
    ShowControls();
    monitor_->post([this, id, request = std::move(request)](MonitorEngine& engine) {
        request(engine);
        // After the reports the request made, so the window knows by then
        // whether the monitor runs.
        QMetaObject::invokeMethod(this, [this, id] {
            const int left = --engines_[id].lockingRequests;
            if (id == data_.ServerId()) {
                lockingRequests_ = left;
                ShowControls();
            }
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
    // While the database server is gone the grid keeps the players it last
    // read; each poll checks, off this thread, whether the way back is open,
    // and the players are shown again once it is.
    if (data_.Lost()) {
        if (!probe_) {
            probe_ = new ServerProbe(data_.place().location, this);
            connect(probe_, &ServerProbe::answered, this, [this](bool takesConnections) {
                if (takesConnections && data_.Lost() && data_.ReconnectNow())
                    Guarded([this] { ShowPlayers(); });
            });
        }
        probe_->start();
        return;
    }
    try {
        data_.Resynchronise({data_.tblPlayers});
    } catch (const std::exception&) {
        // Found gone just now: the status bar says so.
        if (data_.Lost())
            return;
        throw;
    }
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
    if (box == ServerBox::PlyrCnt)
        ShowTabPlayers(data_.ServerId(), text);
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
        for (auto& [id, engine] : engines_)
            engine.thread->post([](MonitorEngine& monitor) { monitor.ListsChanged(); });
    });
    open();
}

}  // namespace palisor
