// The game servers of the database as tabs above the player grid, and the
// Server menu that adds, renames and removes them. The window works for the
// selected server: the settings boxes, the server information, the grid,
// the Action menu, Start, Status and Exec Cmd are that server's. While the
// window's own monitor runs it stays on the server it monitors.
#include "window/formpalisor.h"

#include "core/dialogs.h"
#include "core/errorhandler.h"
#include "monitor/engine.h"
#include "monitor/monitorthread.h"
#include "store/datapalisor.h"
#include "store/monitorclaim.h"
#include "store/servers.h"
#include "window/playergrid.h"
#include "window/settingsbinding.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTimer>

#include <algorithm>

namespace palisor {

namespace {

const QString kServersEvent = QStringLiteral("PALISOR_SERVERS");
const QString kPolledEvent = QStringLiteral("PALISOR_POLLED");

// "Objective 12/32": the name and the players as the last poll counted them.
QString tabText(const QString& name, const QString& players)
{
    return players.isEmpty() ? name : name + QLatin1Char(' ') + players;
}

}  // namespace

void TformPalisor::BuildServerTabs()
{
    lbServers = new QLabel(PanelBottom);
    lbServers->setVisible(false);
    tabServers = new QTabBar(PanelBottom);
    tabServers->setExpanding(false);
    tabServers->setDrawBase(false);
    connect(tabServers, &QTabBar::currentChanged, this, [this](int index) {
        if (!fillingTabs_)
            Guarded([this, index] { tabServersChange(index); });
    });
}

void TformPalisor::BuildServerMenu()
{
    miServer = menuBar()->addMenu(QStringLiteral("&Server"));
    miAddServer = miServer->addAction(QStringLiteral("&Add Server..."));
    miRenameServer = miServer->addAction(QStringLiteral("&Rename Server..."));
    miRemoveServer = miServer->addAction(QStringLiteral("Re&move Server"));
    connect(miAddServer, &QAction::triggered, this, [this] { Guarded([this] { miAddServerClick(); }); });
    connect(miRenameServer, &QAction::triggered, this, [this] { Guarded([this] { miRenameServerClick(); }); });
    connect(miRemoveServer, &QAction::triggered, this, [this] { Guarded([this] { miRemoveServerClick(); }); });
    // Another program's change to the servers, or a poll of another server
    // that counted players anew, shows in the tabs at once. With one server
    // its tab follows the information boxes, and a poll costs no reading.
    connect(&data_, &TDataPalisor::notified, this, [this](const QString& event) {
        if (event == kServersEvent || (event == kPolledEvent && servers_.size() > 1))
            Guarded([this] { ShowServerTabs(); });
    });
    data_.Listen({kServersEvent});
}

void TformPalisor::ShowServerTabs()
{
    if (!data_.isConnected() || !data_.HasHistory())
        return;
    data_.Resynchronise({});
    servers_ = ReadServers(data_.database());
    // The server the window works for was removed elsewhere: the first one.
    const bool gone = std::none_of(servers_.begin(), servers_.end(),
                                   [this](const ServerEntry& s) { return s.id == data_.ServerId(); });
    int monitored = 0;
    int players = 0;
    const QDateTime nowUtc = QDateTime::currentDateTimeUtc();
    fillingTabs_ = true;
    while (tabServers->count() > servers_.size())
        tabServers->removeTab(tabServers->count() - 1);
    for (int i = 0; i < servers_.size(); ++i) {
        const ServerEntry& server = servers_[i];
        QString count;
        const std::optional<ServerState> state = ReadServerState(data_.database(), server.id);
        if (server.id == data_.ServerId() && !edPlyrCnt->text().isEmpty()) {
            count = edPlyrCnt->text();
        } else if (state) {
            count = state->playerCount;
        }
        const std::optional<MonitorClaim> claim = ReadClaim(data_.database(), server.id);
        const auto engine = engines_.find(server.id);
        if ((engine != engines_.end() && engine->second.running) || (claim && KeepsOthersOff(*claim, nowUtc))) {
            ++monitored;
            players += state ? state->players : 0;
        }
        if (i >= tabServers->count())
            tabServers->addTab(QString());
        tabServers->setTabText(i, tabText(server.name, count));
        tabServers->setTabData(i, server.id);
        if (server.id == data_.ServerId())
            tabServers->setCurrentIndex(i);
    }
    fillingTabs_ = false;
    // Several servers are summed up where the window is seen at a glance.
    const QString summary = servers_.size() < 2 ? QString()
                                                : QStringLiteral("%1 of %2 servers monitored, %3 players")
                                                      .arg(monitored).arg(servers_.size()).arg(players);
    lbServers->setText(summary);
    lbServers->setVisible(!summary.isEmpty());
    tiPalisor->setToolTip(summary.isEmpty() ? QStringLiteral("Palisor") : QStringLiteral("Palisor: ") + summary);
    if (gone && !servers_.isEmpty() && !running_)
        SwitchServer(servers_.first().id);
    ShowControls();
}

void TformPalisor::tabServersChange(int index)
{
    const int id = tabServers->tabData(index).toInt();
    if (id == data_.ServerId())
        return;
    SwitchServer(id);
}

void TformPalisor::SwitchServer(int id)
{
    // What is being typed is the server's it was typed for.
    for (QLineEdit* box : {dbHost, dbPort, dbPswd, dbScanTime, dbMaxPing}) {
        if (box->isModified())
            CommitDBEdit(box);
    }
    // The other server's watching ends without touching its players.
    watching_ = false;
    claimLapse_->stop();
    pollError_.clear();
    data_.SetServer(id);
    ServerEngine& engine = EngineFor(id);
    monitor_ = engine.thread.get();
    settings_->Load();
    ShowEngineState(engine);
    SortPlayers(data_.tblSettings->text(QStringLiteral("SORTED")));
    RefreshActionMenu();
    PushSettings();
    FollowClaim();
    ShowServerTabs();
}

void TformPalisor::ShowEngineState(const ServerEngine& state)
{
    running_ = state.running;
    commandsOn_ = state.commandsOn;
    lockingRequests_ = state.lockingRequests;
    btnStart->setText(running_ ? QStringLiteral("Stop") : QStringLiteral("Start"));
    for (const ServerBox box : {ServerBox::HostName, ServerBox::GameType, ServerBox::PlyrCnt, ServerBox::CurMap,
                                ServerBox::NextMap})
        ShowServerInfo(box, state.boxes[int(box)]);
    ShowProgress(state.progress, state.progressMaximum);
    ShowStatus(state.status);
    ShowControls();
}

void TformPalisor::ShowTabPlayers(int id, const QString& players)
{
    for (int i = 0; i < tabServers->count(); ++i) {
        if (tabServers->tabData(i).toInt() != id)
            continue;
        for (const ServerEntry& server : servers_) {
            if (server.id == id)
                tabServers->setTabText(i, tabText(server.name, players));
        }
    }
}

void TformPalisor::EmptyPlayersOfMonitoredServers()
{
    const int selected = data_.ServerId();
    if (!data_.isConnected() || monitored_.isEmpty())
        return;
    // A fresh snapshot: the engines' last polls committed players after the
    // window's transaction began, which a delete in it would not see.
    data_.Resynchronise({});
    for (const int id : monitored_) {
        if (id == selected)
            continue;
        // A server another program has claimed since keeps what it polls.
        const std::optional<MonitorClaim> claim = ReadClaim(data_.database(), id);
        if (claim && !MonitorIdentity::current().holds(*claim) && KeepsOthersOff(*claim, QDateTime::currentDateTimeUtc()))
            continue;
        data_.SetServer(id);
        data_.DeletePlayers();
    }
    data_.SetServer(selected);
}

QString TformPalisor::ServerName() const
{
    for (const ServerEntry& server : servers_) {
        if (server.id == data_.ServerId())
            return server.name;
    }
    return QString();
}

void TformPalisor::miAddServerClick()
{
    QString name;
    if (!dialogs().inputQuery(QStringLiteral("Add Server"), QStringLiteral("Name of the new server"), name))
        return;
    QString place = QStringLiteral("127.0.0.1:12203");
    if (!dialogs().inputQuery(QStringLiteral("Add Server"), QStringLiteral("Its address and port (address:port)"), place))
        return;
    const qsizetype colon = place.lastIndexOf(QLatin1Char(':'));
    QSqlDatabase db = data_.database();
    const int id = AddServer(db, name, colon < 0 ? place : place.left(colon), colon < 0 ? QString() : place.mid(colon + 1));
    ShowServerTabs();
    if (!running_)
        SwitchServer(id);
}

void TformPalisor::miRenameServerClick()
{
    QString name = ServerName();
    if (!dialogs().inputQuery(QStringLiteral("Rename Server"), QStringLiteral("New name of the server"), name))
        return;
    QSqlDatabase db = data_.database();
    RenameServer(db, data_.ServerId(), name);
    ShowServerTabs();
}

void TformPalisor::miRemoveServerClick()
{
    if (!dialogs().confirm(QStringLiteral("Remove the server %1 with its settings, players and samples? "
                                          "Its penalty log stays.").arg(ServerName())))
        return;
    QSqlDatabase db = data_.database();
    RemoveServer(db, data_.ServerId());
    ShowServerTabs();
}

}  // namespace palisor
