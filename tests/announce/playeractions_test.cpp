// The Kick, Ban and Dump User actions on the current player, with the dialogs
// answered by the test, against a real database and the simulator.
#include "core/dialogs.h"
#include "core/error.h"
#include "monitor/playeractions.h"
#include "tests/announce/serverfixture.h"
#include "tests/support/dialogs/scripteddialogs.h"

using namespace palisor;
using Kind = ScriptedDialogs::Kind;

namespace {

class PlayerActionsTest : public test::ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        startServer(QStringLiteral(
            R"({"slot": 1, "name": "Alice", "address": "203.0.113.5", "port": 27960, "ping": 40},
               {"slot": 3, "name": "Bob", "address": "203.0.113.9", "port": 27961, "ping": 60})"));
        data->RecordPlayer(QStringLiteral("01"), QStringLiteral("Alice"), QStringLiteral("203.0.113.5"),
                           QStringLiteral("27960"), QStringLiteral("040"));
        data->RecordPlayer(QStringLiteral("03"), QStringLiteral("Bob"), QStringLiteral("203.0.113.9"),
                           QStringLiteral("27961"), QStringLiteral("060"));
        data->tblPlayers->setCurrentRow(1);
        sim.clearLog();
        // As the window runs them: the console side in the monitor, the
        // result shown when it comes back.
        actions = std::make_unique<PlayerActionHandlers>(
            *data, PlayerActionHooks{
                       [this](const QString& id, const QString& name, const QString& address, const QString& reason) {
                           dialogs().message(monitor->KickPlayer(id, name, reason, address, EventSource::Admin));
                       },
                       [this](const QString& id, const QString& name, const QString& address, const QString& reason) {
                           dialogs().message(monitor->BanAndKick(id, name, address, reason));
                       },
                       [this](const QString& name) {
                           const TMonitor::Response response = monitor->DumpUser(name);
                           responses.append({response.reply, response.title});
                       },
                   });
    }

    QStringList bannedNames() const
    {
        QStringList names;
        for (int row = 0; row < data->tblBanned->rowCount(); ++row)
            names.append(data->tblBanned->value(row, QStringLiteral("NAME")).toString() + QLatin1Char('@') +
                         data->tblBanned->value(row, QStringLiteral("ADDRESS")).toString());
        return names;
    }

    // Runs an action that the refused password must end with its error.
    template <typename Action>
    void expectRefused(Action action)
    {
        try {
            action();
            ADD_FAILURE() << "a refused password must end the action";
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().contains(QStringLiteral("bad rconpassword"), Qt::CaseInsensitive))
                << e.message().toStdString();
        }
    }

    ScriptedDialogs scripted;
    std::unique_ptr<PlayerActionHandlers> actions;
    QList<std::pair<QString, QString>> responses;
};

TEST_F(PlayerActionsTest, KickWithTheDefaultReason)
{
    scripted.answerInput(QStringLiteral("ADMIN DECISION"));
    actions->actKickExecute();

    const ScriptedDialogs::Call question = scripted.callsOf(Kind::InputQuery).at(0);
    EXPECT_EQ(question.caption, "Player Kick");
    EXPECT_EQ(question.text, "Are you sure you want to kick Bob?\r\n\r\nReason for kick:");
    EXPECT_EQ(question.value, "ADMIN DECISION");
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for ADMIN DECISION", "clientkick 03"}));
    EXPECT_EQ(pauses, QList<int>{1500});
    EXPECT_EQ(scripted.texts(Kind::Message), QStringList{"Command Executed\r\n"});
    EXPECT_EQ(test::RecordedEvents(*data), QStringList{"KICK|03|Bob|203.0.113.9|ADMIN DECISION|admin"});
}

TEST_F(PlayerActionsTest, KickWithTheReasonEmptiedOrCancelled)
{
    scripted.answerInput(QString());
    actions->actKickExecute();
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for ", "clientkick 03"}));

    sim.clearLog();
    scripted.clearCalls();
    scripted.cancelInput();
    actions->actKickExecute();
    EXPECT_EQ(sim.commandTexts(), QStringList());
    EXPECT_TRUE(scripted.texts(Kind::Message).isEmpty());
}

TEST_F(PlayerActionsTest, APollDuringTheQuestionDoesNotChangeWhoIsKicked)
{
    scripted.answerInput(QStringLiteral("TEAM KILLING"), [this] {
        data->DeletePlayers();
        data->RecordPlayer(QStringLiteral("07"), QStringLiteral("Zed"), QStringLiteral("198.51.100.4"),
                           QStringLiteral("27962"), QStringLiteral("030"));
        data->tblPlayers->first();
    });
    actions->actKickExecute();
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for TEAM KILLING", "clientkick 03"}));
}

TEST_F(PlayerActionsTest, BanIsStoredBeforeTheKick)
{
    scripted.answerInput(QStringLiteral("CHEATING"), [this] {
        // Nothing is stored while the question is open.
        EXPECT_TRUE(bannedNames().isEmpty());
    });
    actions->actBanExecute();

    const ScriptedDialogs::Call question = scripted.callsOf(Kind::InputQuery).at(0);
    EXPECT_EQ(question.caption, "Player Ban");
    EXPECT_EQ(question.text, "Are you sure you want to ban Bob?\r\n\r\nReason for ban:");
    EXPECT_EQ(question.value, "CHEATING");
    EXPECT_EQ(bannedNames(), QStringList{"Bob@203.0.113.9"});
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for CHEATING", "clientkick 03"}));
    EXPECT_EQ(scripted.texts(Kind::Message), QStringList{"Command Executed\r\n"});

    scripted.cancelInput();
    data->tblPlayers->first();
    actions->actBanExecute();
    EXPECT_EQ(bannedNames(), QStringList{"Bob@203.0.113.9"});
    EXPECT_EQ(test::RecordedEvents(*data), (QStringList{"BAN|03|Bob|203.0.113.9|CHEATING|admin",
                                                       "KICK|03|Bob|203.0.113.9|CHEATING|admin"}));
}

TEST_F(PlayerActionsTest, AnImmunePlayerIsBannedButNotKicked)
{
    addRow(data->tblImmune, {{"NAME", "BOBBY"}});
    scripted.answerInput(QStringLiteral("ADMIN DECISION"));
    actions->actKickExecute();
    scripted.answerInput(QStringLiteral("CHEATING"));
    actions->actBanExecute();

    EXPECT_EQ(sim.commandTexts(), QStringList());
    EXPECT_EQ(bannedNames(), QStringList{"Bob@203.0.113.9"});
    EXPECT_EQ(scripted.texts(Kind::Message), (QStringList{"Player Bob is Immune and can not be kicked.",
                                                         "Player Bob is Immune and can not be kicked."}));
    EXPECT_EQ(test::RecordedEvents(*data), (QStringList{"REFUSAL|03|Bob|203.0.113.9|ADMIN DECISION|admin",
                                                       "BAN|03|Bob|203.0.113.9|CHEATING|admin",
                                                       "REFUSAL|03|Bob|203.0.113.9|CHEATING|admin"}));
}

TEST_F(PlayerActionsTest, DumpUserSendsTheNameWithAnOpeningQuoteOnly)
{
    actions->actDumpuserExecute();

    ASSERT_EQ(sim.commandTexts().size(), 1);
    const QString command = sim.commandTexts().at(0);
    EXPECT_EQ(command, "dumpuser \"Bob");
    EXPECT_EQ(command.size(), 13);
    ASSERT_EQ(responses.size(), 1);
    EXPECT_TRUE(responses[0].first.startsWith(QStringLiteral("userinfo\r\n"))) << responses[0].first.toStdString();
    EXPECT_EQ(responses[0].second, "dumpuser \"Bob\"");
    EXPECT_TRUE(scripted.calls().empty());
}

TEST_F(PlayerActionsTest, ARefusedPasswordEndsEachActionWithoutAResult)
{
    view.password = QStringLiteral("wrong");
    scripted.answerInput(QStringLiteral("ADMIN DECISION"));
    expectRefused([this] { actions->actKickExecute(); });
    scripted.answerInput(QStringLiteral("CHEATING"));
    expectRefused([this] { actions->actBanExecute(); });
    expectRefused([this] { actions->actDumpuserExecute(); });

    // Only the two chat announcements reached the server; neither kick followed.
    EXPECT_EQ(sim.commandTexts(), (QStringList{"say Kicking player Bob for ADMIN DECISION",
                                               "say Kicking player Bob for CHEATING", "dumpuser \"Bob"}));
    EXPECT_TRUE(pauses.isEmpty());
    EXPECT_EQ(bannedNames(), QStringList{"Bob@203.0.113.9"});
    EXPECT_TRUE(scripted.texts(Kind::Message).isEmpty());
    EXPECT_TRUE(responses.isEmpty());
    // A kick the server never took is no penalty; the ban is.
    EXPECT_EQ(test::RecordedEvents(*data), QStringList{"BAN|03|Bob|203.0.113.9|CHEATING|admin"});
}

TEST_F(PlayerActionsTest, NothingHappensWithoutAPlayer)
{
    data->DeletePlayers();
    actions->actKickExecute();
    actions->actBanExecute();
    actions->actDumpuserExecute();
    EXPECT_TRUE(scripted.calls().empty());
    EXPECT_EQ(sim.commandTexts(), QStringList());
    EXPECT_TRUE(responses.isEmpty());
}

}  // namespace
