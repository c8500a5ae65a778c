// The window over a database of two game servers: a tab each, the window
// working for the selected one, and the Server menu.
#include "store/servers.h"
#include "store/sqltext.h"
#include "tests/window/windowtest.h"

#include <QLabel>
#include <QTabBar>

namespace {

class ServersWindowTest : public WindowTest {
protected:
    int scalar(const QString& query)
    {
        QSqlQuery q(data->database());
        return q.exec(query) && q.next() ? q.value(0).toInt() : -1;
    }
    QStringList Tabs() const
    {
        QStringList texts;
        for (int i = 0; i < window->tabServers->count(); ++i)
            texts << window->tabServers->tabText(i);
        return texts;
    }
    test::SimProcess second;
};

TEST_F(ServersWindowTest, EachTabIsItsServerAndTheMenuAddsRenamesAndRemoves)
{
    StartServer(QStringLiteral(R"({"players": [], "variables": {"sv_hostname": "First"}})"));
    const quint16 secondPort = second.start(QStringLiteral(R"({"players": [], "variables": {"sv_hostname": "Second"}})"),
                                            QStringLiteral("other"));
    data = db.createDataModule();
    QSqlDatabase connection = data->database();
    const int objective = AddServer(connection, "Objective", "127.0.0.1", QString::number(secondPort));
    Open();
    EXPECT_EQ(Tabs(), QStringList({"127.0.0.1:12203", "Objective"}));
    EXPECT_EQ(window->dbPort->text(), QString::number(port));

    // The second tab's settings are its own, typed there and kept there.
    window->tabServers->setCurrentIndex(1);
    EXPECT_EQ(data->ServerId(), objective);
    EXPECT_EQ(window->dbPort->text(), QString::number(secondPort));
    window->dbPswd->setText("other");
    Leave(window->dbPswd);
    window->btnStatus->click();
    test::Settle(window->Monitor());
    EXPECT_EQ(window->edHostName->text(), "Second");
    EXPECT_EQ(Tabs(), QStringList({"127.0.0.1:12203", "Objective 0/32"}));
    EXPECT_TRUE(sim.commandTexts().isEmpty());
    window->tabServers->setCurrentIndex(0);
    EXPECT_EQ(window->edHostName->text(), "");
    EXPECT_EQ(window->dbPswd->text(), "secret");

    // Both servers run at once, each on its own engine; the tabs follow
    // whichever is selected.
    window->btnStart->click();
    test::Settle(window->Monitor());
    ASSERT_TRUE(window->MonitorRunning());
    EXPECT_FALSE(window->miRemoveServer->isEnabled());
    EXPECT_EQ(window->lbServers->text(), "1 of 2 servers monitored, 0 players");
    window->tabServers->setCurrentIndex(1);
    EXPECT_FALSE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Start");
    EXPECT_EQ(window->edHostName->text(), "Second");
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_EQ(window->tiPalisor->toolTip(), "Palisor: 2 of 2 servers monitored, 0 players");
    EXPECT_TRUE(second.commandTexts().contains("status"));
    window->tabServers->setCurrentIndex(0);
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_EQ(window->btnStart->text(), "Stop");
    EXPECT_EQ(window->edHostName->text(), "First");
    window->btnStart->click();
    test::Settle(window->Monitor());
    window->tabServers->setCurrentIndex(1);
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_FALSE(window->MonitorRunning());

    dialogs.answerInput(QStringLiteral("Free For All"));
    dialogs.answerInput(QStringLiteral("10.0.0.9:12205"));
    window->miAddServer->trigger();
    EXPECT_EQ(window->dbHost->text(), "10.0.0.9");
    EXPECT_EQ(window->tabServers->currentIndex(), 2);
    dialogs.answerInput(QStringLiteral("objective"));
    window->miRenameServer->trigger();
    EXPECT_TRUE(window->StatusText().contains("There is already a server named Objective.")) << window->StatusText().toStdString();
    dialogs.answerInput(QStringLiteral("FFA"));
    window->miRenameServer->trigger();
    EXPECT_EQ(Tabs().last(), "FFA");
    dialogs.answerConfirm(true);
    window->miRemoveServer->trigger();
    // Each count is its monitor's last stored poll.
    EXPECT_EQ(Tabs(), QStringList({"127.0.0.1:12203 0/32", "Objective 0/32"}));
    EXPECT_EQ(data->ServerId(), 1);
}

// A manual kick goes to the selected tab's server only; a ban committed in the
// Banned Players list kicks on every running server at its next poll.
TEST_F(ServersWindowTest, AKickGoesToTheSelectedServerAndABanTypedInTheListKicksOnEvery)
{
    StartServer(QStringLiteral(R"({"players": [{"slot": 3, "name": "Bob", "address": "203.0.113.9", "port": 1, "ping": 60},
                                               {"slot": 4, "name": "Carl", "address": "203.0.113.4", "port": 1, "ping": 60}]})"));
    const quint16 secondPort = second.start(QStringLiteral(
        R"({"players": [{"slot": 5, "name": "Eve", "address": "198.51.100.5", "port": 1, "ping": 60},
                        {"slot": 6, "name": "Bob", "address": "203.0.113.9", "port": 1, "ping": 60}]})"));
    data = db.createDataModule();
    QSqlDatabase connection = data->database();
    const int objective = AddServer(connection, "Objective", "127.0.0.1", QString::number(secondPort));
    sql::run(connection, QStringLiteral("UPDATE SETTINGS SET PASSWORD = 'secret', SCANTIME = '1' WHERE SERVER_ID = ?"),
             {objective});
    sql::commitAndContinue(connection);
    Open({{"SCANTIME", "1"}});
    window->btnStart->click();
    test::Settle(window->Monitor());
    window->tabServers->setCurrentIndex(1);
    window->btnStart->click();
    test::Settle(window->Monitor());
    ASSERT_TRUE(Eventually([&] { return data->tblPlayers->rowCount() == 2; }));

    data->tblPlayers->first();
    ASSERT_EQ(data->tblPlayers->text("NAME"), "Eve");
    dialogs.answerInput(QStringLiteral("ADMIN DECISION"));
    window->actKick->trigger();
    EXPECT_TRUE(Eventually([&] { return second.commandTexts().contains("clientkick 05"); }));
    EXPECT_FALSE(sim.commandTexts().contains("clientkick 05"));

    data->BanPlayer("Bob", "203.0.113.9");
    EXPECT_TRUE(Eventually([&] {
        return sim.commandTexts().contains("clientkick 03") && second.commandTexts().contains("clientkick 06");
    }));
    // At exit the players the window's engines recorded are nobody's.
    window.reset();
    data->Resynchronise({});
    EXPECT_EQ(scalar(QStringLiteral("SELECT COUNT(*) FROM PLAYERS WHERE SERVER_ID = 1")), 0);
}

// palisor-monitor monitors two servers: the window watches each on its tab,
// and a third server is monitored by the window itself.
TEST_F(ServersWindowTest, TheWindowWatchesTheServersAnotherProgramMonitorsAndRunsAThird)
{
    StartServer(QStringLiteral(R"({"players": [], "variables": {"sv_hostname": "Third"}})"));
    data = db.createDataModule();
    QSqlDatabase connection = data->database();
    const int objective = AddServer(connection, "Objective", "10.0.0.9", "12204");
    const int third = AddServer(connection, "Third", "127.0.0.1", QString::number(port));
    sql::run(connection, QStringLiteral("UPDATE SETTINGS SET PASSWORD = 'secret' WHERE SERVER_ID = ?"), {third});
    sql::commitAndContinue(connection);
    OtherMonitor first(db), second(db, objective);
    first.Claim();
    second.Claim();
    first.Poll("obj_team1", {"01", "Alpha", "203.0.113.1"});
    second.Poll("obj_team2", {"02", "Bravo", "203.0.113.2"});
    Open();
    EXPECT_TRUE(window->Watching());
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Alpha");
    window->tabServers->setCurrentIndex(1);
    EXPECT_TRUE(window->Watching());
    EXPECT_EQ(window->edCurMap->text(), "obj_team2");
    EXPECT_EQ(data->tblPlayers->text("NAME"), "Bravo");
    EXPECT_EQ(window->lbServers->text(), "2 of 3 servers monitored, 2 players");
    window->btnStart->click();
    EXPECT_TRUE(window->StatusText().startsWith("The server 10.0.0.9:12204 is monitored by palisor-monitor on gamehost"))
        << window->StatusText().toStdString();

    window->tabServers->setCurrentIndex(2);
    EXPECT_FALSE(window->Watching());
    window->btnStart->click();
    test::Settle(window->Monitor());
    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_TRUE(sim.commandTexts().contains("status"));
    EXPECT_EQ(window->lbServers->text(), "3 of 3 servers monitored, 2 players");
    window->btnStart->click();
    test::Settle(window->Monitor());
}

}  // namespace
