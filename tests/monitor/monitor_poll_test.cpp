// Whole polls of the monitor against the game-server simulator and a real
// database: what is recorded, who is kicked, and the exact console traffic.
#include "core/error.h"
#include "core/timing.h"
#include "monitor/monitor.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"
#include "tests/monitor/printers.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QMap>

using namespace palisor;

namespace {

// The main window as the monitor sees it: settings texts in, display out.
struct RecordingView : MonitorView {
    QString host = "127.0.0.1", port, password = "secret", maxPing = "250";
    QStringList statuses;
    QMap<ServerBox, QString> boxes;
    int rebuildsBegun = 0, rebuildsEnded = 0, actionMenuRefreshes = 0, variableUpdates = 0;

    QString HostText() const override { return host; }
    QString PortText() const override { return port; }
    QString PasswordText() const override { return password; }
    QString MaxPingText() const override { return maxPing; }
    void ShowStatus(const QString& text) override { statuses.append(text); }
    void EnableSettings(bool) override {}
    void RefreshActionMenu() override { ++actionMenuRefreshes; }
    void BeginPlayerRebuild() override { ++rebuildsBegun; }
    void EndPlayerRebuild() override { ++rebuildsEnded; }
    void ClearServerInfo() override { boxes.clear(); }
    void ShowServerInfo(ServerBox box, const QString& text) override { boxes[box] = text; }
    void UpdateVariables() override { ++variableUpdates; }
    // A stop asked for once this many exchanges have begun; none while negative.
    int exchangesBeforeStop = -1;
    void BeforeExchange() override
    {
        if (exchangesBeforeStop-- == 0)
            throw Error("Monitor interrupted");
    }
    // Kicks, refusals and stored bans as the penalty log's lines show them.
    QStringList penalties;
    void ReportEvent(const MonitorEvent& e) override
    {
        static const QMap<MonitorEvent::Kind, QString> kinds{{MonitorEvent::Kind::Kick, "KICK"},
                                                             {MonitorEvent::Kind::Refusal, "REFUSAL"},
                                                             {MonitorEvent::Kind::BanStored, "BAN"}};
        if (kinds.contains(e.kind))
            penalties << QStringList{kinds[e.kind], e.clientId, e.name, e.address, e.reason, e.source}.join('|');
    }
};

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "monitor_poll_test";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

QString Player(int slot, const char* name, const char* address, int ping)
{
    return QStringLiteral(R"({"slot": %1, "name": "%2", "address": "%3", "port": 12203, "ping": %4})")
        .arg(slot).arg(QLatin1String(name), QLatin1String(address)).arg(ping);
}

class PollTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        setPauseFunction([this](int ms) { pauses.append(ms); });
        rcon.ExchangePause = 0;
    }
    void TearDown() override { setPauseFunction({}); }

    // The simulator starts before the database opens, so that it inherits
    // none of the engine's open files and locks.
    void StartServer(const QString& players, const QString& extra = QString())
    {
        view.port = QString::number(sim.start(QStringLiteral(R"({"players": [%1]%2})").arg(players, extra)));
        data = db.createDataModule();
        monitor = std::make_unique<TMonitor>(*data, rcon, view);
        monitor->Start(120);
    }

    QStringList Column(LiveTable* table, const char* column)
    {
        QStringList values;
        for (int row = 0; row < table->rowCount(); ++row)
            values.append(table->value(row, QLatin1String(column)).toString());
        return values;
    }

    void AddRow(LiveTable* table, std::initializer_list<std::pair<const char*, const char*>> values)
    {
        table->insert();
        for (const auto& [column, value] : values)
            table->setValue(QLatin1String(column), QLatin1String(value));
        table->post();
    }

    test::TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
    test::SimProcess sim;
    TRcon rcon;
    RecordingView view;
    std::unique_ptr<TMonitor> monitor;
    QList<int> pauses;
};

}  // namespace

TEST_F(PollTest, PassingPlayersAreRecordedAndTheServerInformationShown)
{
    StartServer(Player(0, "Sgt.Pepper", "203.0.113.7", 48) + "," + Player(3, "O'Neil", "198.51.100.20", 120),
                R"(, "variables": {"sv_hostname": "My Server", "g_gametypestring": "Team-Match",
                   "mapname": "obj/obj_team1", "nextmap": "vstr m2", "m2": "map obj/obj_team2; set nextmap vstr m3"})");
    monitor->RefreshServer();

    EXPECT_EQ(Column(data->tblPlayers, "CLIENTID"), (QStringList{"00", "03"}));
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), (QStringList{"Sgt.Pepper", "O`Neil"}));
    EXPECT_EQ(Column(data->tblPlayers, "PING"), (QStringList{"048", "120"}));
    EXPECT_EQ(Column(data->tblPlayers, "PORT"), (QStringList{"12203", "12203"}));
    EXPECT_EQ(data->CountRows(data->tblRecent), 2);

    EXPECT_EQ(view.boxes[ServerBox::HostName], "My Server");
    EXPECT_EQ(view.boxes[ServerBox::GameType], "Team-Match");
    EXPECT_EQ(view.boxes[ServerBox::PlyrCnt], "2/32");
    EXPECT_EQ(view.boxes[ServerBox::CurMap], "obj_team1");
    EXPECT_EQ(view.boxes[ServerBox::NextMap], "obj_team2");
    EXPECT_EQ(view.variableUpdates, 1);
    EXPECT_EQ(view.rebuildsEnded, 1);
    EXPECT_EQ(view.actionMenuRefreshes, 1);
    EXPECT_TRUE(view.statuses == QStringList{QString()});
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban", "serverinfo", "nextmap", "m2"}));
    EXPECT_EQ(test::RecordedSamples(*data), QStringList{"2/32 obj_team1 84 120"});
}

TEST_F(PollTest, OffendersAreAnnouncedAndKickedInLineOrder)
{
    StartServer(Player(1, "xAdMiNx", "192.0.2.10", 40) + "," + Player(2, "Innocent", "192.0.2.66", 40) + "," +
                Player(4, "BOB", "198.51.100.9", 40) + "," + Player(5, "vip", "192.0.2.12", 300) + "," +
                Player(6, "Fine", "192.0.2.13", 100));
    AddRow(data->tblIllegal, {{"NAME", "admin"}});
    AddRow(data->tblBanned, {{"NAME", "Cheater"}, {"ADDRESS", "192.0.2.66"}});
    AddRow(data->tblBanned, {{"NAME", "Bob"}, {"ADDRESS", "10.1.1.1"}});
    AddRow(data->tblImmune, {{"NAME", "VipPlayer"}});
    view.maxPing = "100";
    monitor->RefreshServer();

    EXPECT_EQ(sim.commandTexts().mid(0, 8), (QStringList{
        "status", "clientban",
        "say Kicking player xAdMiNx for ILLEGAL NAME", "clientkick 01",
        "say Kicking player Innocent for BANNED IP", "clientkick 02",
        "say Kicking player BOB for BANNED IP", "clientkick 04"}));
    EXPECT_EQ(sim.commandTexts().at(8), "serverinfo");
    EXPECT_EQ(pauses.count(TMonitor::KickPause), 3);
    // The banned name now also covers the address it came back from.
    EXPECT_TRUE(Column(data->tblBanned, "ADDRESS").contains("198.51.100.9"));
    EXPECT_FALSE(Column(data->tblBanned, "ADDRESS").contains("10.1.1.1"));
    // The immune player is refused, not kicked, and not listed this poll.
    EXPECT_EQ(view.statuses.last(), "Player vip is Immune and can not be kicked.");
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList{"Fine"});
    EXPECT_EQ(test::RecordedEvents(*data).mid(2), (QStringList{"KICK|01|xAdMiNx|192.0.2.10|ILLEGAL NAME|monitor",
                                                              "KICK|02|Innocent|192.0.2.66|BANNED IP|monitor",
                                                              "KICK|04|BOB|198.51.100.9|BANNED IP|monitor",
                                                              "REFUSAL|05|vip|192.0.2.12|HIGH PING|monitor"}));
    EXPECT_EQ(view.penalties, test::RecordedEvents(*data).mid(2));
    EXPECT_EQ(test::RecordedSamples(*data), QStringList{"1/32 mohdm1 100 100"});
}

TEST_F(PollTest, AStopAfterTheAnnouncementStillKicksButStartsNoFurtherKick)
{
    StartServer(Player(1, "admin1", "192.0.2.10", 40) + "," + Player(2, "admin2", "192.0.2.11", 40));
    AddRow(data->tblIllegal, {{"NAME", "admin"}});
    // Asked for while "say" goes out: status, clientban and the announcement begin.
    view.exchangesBeforeStop = 3;
    EXPECT_THROW(monitor->RefreshServer(), Error);
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban", "say Kicking player admin1 for ILLEGAL NAME",
                                               "clientkick 01"}));
    EXPECT_EQ(pauses, QList<int>{TMonitor::KickPause});
    EXPECT_EQ(test::RecordedEvents(*data), QStringList{"KICK|01|admin1|192.0.2.10|ILLEGAL NAME|monitor"});
}

TEST_F(PollTest, ServerBanRequestBansAndKicksInTheSamePoll)
{
    StartServer(Player(5, "Spawncamper", "198.51.100.99", 45) + "," + Player(6, "Bystander", "198.51.100.98", 45),
                R"(, "variables": {"clientban": "5"})");
    monitor->ReadPlayers();

    EXPECT_EQ(monitor->PendingBanClient(), "05");
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban", "set clientban 99",
                                               "say Kicking player Spawncamper for BANNED IP", "clientkick 05"}));
    EXPECT_EQ(Column(data->tblBanned, "NAME"), QStringList{"Spawncamper"});
    EXPECT_EQ(Column(data->tblBanned, "ADDRESS"), QStringList{"198.51.100.99"});
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList{"Bystander"});
    EXPECT_EQ(test::RecordedEvents(*data),
              (QStringList{"BAN|05|Spawncamper|198.51.100.99|SERVER REQUEST|server request",
                           "KICK|05|Spawncamper|198.51.100.99|BANNED IP|monitor"}));
    EXPECT_EQ(view.penalties, test::RecordedEvents(*data));

    // The kick took him off the server; the request was reset with it.
    sim.clearLog();
    monitor->ReadPlayers();
    EXPECT_EQ(monitor->PendingBanClient(), "");
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban"}));
}

TEST_F(PollTest, HighPingKicksOnTheStrikeLimitThPoll)
{
    StartServer(Player(2, "Laggy", "203.0.113.201", 251) + "," + Player(3, "Edge", "203.0.113.202", 250),
                QStringLiteral(R"(, "timeline": [{"after_status": 5, "join": %1}])")
                    .arg(Player(7, "Latecomer", "203.0.113.203", 400)));
    // Before the first start there is no strike limit: nobody is kicked for high ping.
    TMonitor(*data, rcon, view).ReadPlayers();
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), (QStringList{"Laggy", "Edge"}));
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban"}));

    monitor->Start(30);
    for (int poll = 1; poll <= 3; ++poll) {
        monitor->ReadPlayers();
        EXPECT_FALSE(sim.commandTexts().contains("clientkick 02")) << poll;
        EXPECT_EQ(data->tblPlayers->rowCount(), 2) << poll;
    }
    monitor->ReadPlayers();
    EXPECT_TRUE(sim.commandTexts().contains("say Kicking player Laggy for HIGH PING"));
    EXPECT_EQ(sim.commandTexts().count("clientkick 02"), 1);
    EXPECT_FALSE(sim.commandTexts().contains("clientkick 03"));
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList{"Edge"});
    EXPECT_EQ(test::RecordedEvents(*data), QStringList{"KICK|02|Laggy|203.0.113.201|HIGH PING|monitor"});

    // A new run counts afresh, and at two-minute polls the first strike kicks.
    sim.clearLog();
    monitor->Start(120);
    monitor->ReadPlayers();
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban", "say Kicking player Latecomer for HIGH PING",
                                               "clientkick 07"}));
}

TEST_F(PollTest, EmptyServerEmptiesThePlayerTable)
{
    StartServer(QString());
    AddRow(data->tblPlayers, {{"CLIENTID", "07"}, {"NAME", "Ghost"}});
    monitor->ReadPlayers();
    EXPECT_EQ(data->tblPlayers->rowCount(), 0);
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban"}));
}

TEST_F(PollTest, RefusedPasswordEndsThePollWithTheServersText)
{
    StartServer(Player(0, "Someone", "192.0.2.1", 50));
    view.password = "wrong";
    try {
        monitor->RefreshServer();
        FAIL() << "the poll succeeded";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromStdString(e.what()).contains("Bad rconpassword"));
    }
    EXPECT_EQ(view.rebuildsEnded, 1);
    EXPECT_EQ(view.actionMenuRefreshes, 1);
    EXPECT_TRUE(view.boxes.isEmpty());
    EXPECT_EQ(sim.commandTexts(), QStringList{"status"});
}

TEST_F(PollTest, ClosedTableMakesTheDataStoreReconnect)
{
    StartServer(Player(0, "Someone", "192.0.2.1", 50));
    data->tblPlayers->close();
    try {
        monitor->RefreshServer();
        FAIL() << "the poll succeeded";
    } catch (const std::exception& e) {
        EXPECT_TRUE(QString::fromStdString(e.what()).contains("closed dataset")) << e.what();
    }
    EXPECT_TRUE(data->tblPlayers->isOpen());
    monitor->RefreshServer();
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList{"Someone"});
}

TEST_F(PollTest, MapListRotationAndMapAliases)
{
    StartServer(QString(), R"(, "variables": {"mapname": "dm/mohdm6", "sv_maplist": "dm/mohdm1;dm/mohdm6"})");
    AddRow(data->tblMapAlias, {{"MAPNAME", "MOHDM6"}, {"ALIAS", "Stalingrad"}});
    monitor->ReadServerInfo();
    EXPECT_EQ(view.boxes[ServerBox::CurMap], "Stalingrad");
    EXPECT_EQ(view.boxes[ServerBox::NextMap], "mohdm1");
    EXPECT_EQ(view.boxes[ServerBox::PlyrCnt], "0/32");
    EXPECT_EQ(sim.commandTexts(), (QStringList{"serverinfo", "nextmap", "sv_maplist"}));
}
