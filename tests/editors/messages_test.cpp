#include "core/dialogs.h"
#include "core/timing.h"
#include "editors/announcementhost.h"
#include "editors/formmessages.h"
#include "editors/listwindows.h"
#include "editors/tablegrid.h"
#include "monitor/announcements.h"
#include "rcon/rcon.h"
#include "tests/editors/editorfixture.h"
#include "tests/support/sim/simprocess.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>
#include <QSqlQuery>
#include <QtTest/QTest>

using namespace palisor;
using namespace palisor::test;

namespace {

// The main window's part for the editor: the variables as the boxes stand
// before any poll (only the server address box is filled), the replacement,
// and the console, here the simulator.
class ConsoleHost final : public AnnouncementHost {
public:
    explicit ConsoleHost(TDataPalisor& data) : data_(data) { rcon.ExchangePause = 0; }

    void UpdateVariables() override
    {
        VariableBoxes boxes;
        boxes.serverIp = data_.tblSettings->text("ADDRESS");
        palisor::UpdateVariables(data_, boxes);
    }
    QString SubstituteVariables(const QString& text) override
    {
        return palisor::SubstituteVariables(text, data_.Variables, data_.VariableMark);
    }
    void SendNow(const QString& command) override { dialogs().message(rcon.Command(command)); }

    TRcon rcon;

private:
    TDataPalisor& data_;
};

class MessagesTest : public EditorTest {
protected:
    MessagesTest() : host(std::make_unique<ConsoleHost>(*data)) {}

    void StoreSetting(const QString& column, const QVariant& value)
    {
        data->tblSettings->edit();
        data->tblSettings->setValue(column, value);
        data->tblSettings->post();
    }
    QVariant StoredSetting(const QString& column)
    {
        QSqlQuery q(data->database());
        EXPECT_TRUE(q.exec("SELECT " + column + " FROM SETTINGS") && q.next());
        return q.value(0);
    }
    void StartServer()
    {
        host->rcon.Host = "127.0.0.1";
        host->rcon.Port = sim.start("{}", "secret");
        host->rcon.Password = "secret";
    }
    QAction* CheckedInterval(TformMessages& window) { return window.intervalGroup->checkedAction(); }

    std::unique_ptr<ConsoleHost> host;
    SimProcess sim;
};

TEST_F(MessagesTest, EmptyListCountsNothingAndClosingStoresNoAnnouncement)
{
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Scheduled Announcements: 0 total"));
        EXPECT_FALSE(window.miAction->menuAction()->isEnabled());
        EXPECT_TRUE(window.PopupPlayerData->isEmpty());
    });
    EXPECT_EQ(StoredRows("MESSAGES"), 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(MessagesTest, IntervalMarkFollowsTheStoredMinutes)
{
    const struct {
        int stored;
        const char* marked;
    } cases[] = {{10, "N10minutes1"}, {1, "N1minute1"}, {7, "N5minutes1"}, {20, "N20minutes1"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        StoreSetting("MSGTIME", c.stored);
        TformMessages window(*data, *host);
        WhileOpen(window, [&] {
            ASSERT_NE(CheckedInterval(window), nullptr);
            EXPECT_EQ(CheckedInterval(window)->objectName(), QLatin1String(c.marked));
        });
        EXPECT_EQ(StoredSetting("MSGTIME").toInt(), c.stored);
    }
}

TEST_F(MessagesTest, ChoosingAnIntervalStoresItAtOnce)
{
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        window.N15minutes1->trigger();
        EXPECT_EQ(StoredSetting("MSGTIME").toInt(), 15);
        EXPECT_EQ(CheckedInterval(window), window.N15minutes1);
        EXPECT_FALSE(window.N5minutes1->isChecked());
    });
}

TEST_F(MessagesTest, OpeningRewritesTheSwitchAndToggleStoresIt)
{
    StoreSetting("MSGON", "true");
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        EXPECT_TRUE(window.miSend->isChecked());
        EXPECT_EQ(StoredSetting("MSGON").toString(), QStringLiteral("True"));
        window.miSend->trigger();
        EXPECT_FALSE(window.miSend->isChecked());
        EXPECT_EQ(StoredSetting("MSGON").toString(), QStringLiteral("False"));
        window.miSend->trigger();
        EXPECT_EQ(StoredSetting("MSGON").toString(), QStringLiteral("True"));
    });

    StoreSetting("MSGON", "yes");
    TformMessages again(*data, *host);
    WhileOpen(again, [&] { EXPECT_FALSE(again.miSend->isChecked()); });
    EXPECT_EQ(StoredSetting("MSGON").toString(), QStringLiteral("False"));
}

TEST_F(MessagesTest, TypedAnnouncementIsCountedAndTakesItsPlaceBySeq)
{
    AddRows(*data->tblMessages, {"SEQ", "ANNOUNCEMENT"}, {{1, "first"}, {5, "last"}});
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        EXPECT_EQ(data->tblMessages->currentRow(), 1);
        TableGrid& grid = *window.DataGrid;
        QTest::keyClick(&grid, Qt::Key_Insert);
        grid.setCurrentIndex(grid.model()->index(2, 0));
        TypeIntoCell(grid, "3");
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Tab);
        QCoreApplication::processEvents();
        TypeIntoCell(grid, "middle");
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Up);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Scheduled Announcements: 3 total"));
        EXPECT_EQ(Column(*data->tblMessages, "ANNOUNCEMENT"), (QStringList{"first", "middle", "last"}));
    });
    EXPECT_EQ(StoredRows("MESSAGES"), 3);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(MessagesTest, AnnouncementThatCannotBeStoredKeepsTheWindowOpen)
{
    RefuseValue("MESSAGES", "ANNOUNCEMENT", "gg ez");
    host = std::make_unique<ConsoleHost>(*data);
    AddRows(*data->tblMessages, {"SEQ", "ANNOUNCEMENT"}, {{1, "first"}});
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.DataGrid;
        grid.setCurrentIndex(grid.model()->index(0, 1));
        TypeIntoCell(grid, "gg ez");
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Return);
        QCoreApplication::processEvents();
        // A row the view adds stores the pending one first; that failure is
        // reported as well.
        EXPECT_FALSE(grid.model()->insertRow(1));
        EXPECT_EQ(errors.size(), 1);
        window.close();
        EXPECT_TRUE(window.isVisible());
        ASSERT_EQ(errors.size(), 2);
        EXPECT_TRUE(errors[0].contains("gg ez is refused")) << errors[0].toStdString();
        EXPECT_TRUE(errors[1].contains("gg ez is refused")) << errors[1].toStdString();
        EXPECT_EQ(data->tblMessages->state(), LiveTable::State::Edit);
        QTest::keyClick(&grid, Qt::Key_Escape);
    });
    EXPECT_EQ(Column(*data->tblMessages, "ANNOUNCEMENT"), QStringList{"first"});
}

TEST_F(MessagesTest, RemoveAsksWithoutQuotingTheText)
{
    AddRows(*data->tblMessages, {"SEQ", "ANNOUNCEMENT"}, {{1, "first"}, {2, "second"}});
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        dialogs.answerConfirm(true);
        window.actRemove->trigger();
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Are you sure you want to remove this Announcement?"));
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Scheduled Announcements: 1 total"));
    });
    EXPECT_EQ(Column(*data->tblMessages, "ANNOUNCEMENT"), QStringList{"first"});
}

TEST_F(MessagesTest, SystemVariablesBeforeAnyPollShowBlanksForTheServerBoxes)
{
    setClockFunction([] { return QDateTime(QDate(2024, 3, 7), QTime(14, 5)); });
    StoreSetting("ADDRESS", "192.0.2.4");
    AddRows(*data->tblBanned, {"NAME", "ADDRESS"}, {{"Bob", "1.1.1.1"}, {"Carol", "1.1.1.2"}});
    TformMessages window(*data, *host);
    WhileOpen(window, [&] { window.miVariables->trigger(); });
    EXPECT_EQ(window.miVariables->text(), QStringLiteral("System &Variables"));
    EXPECT_EQ(dialogs.texts(ScriptedDialogs::Kind::Message),
              QStringList{"The following list of variables can be used in your Announcements.\r\n\r\n"
                          "$serverip$=192.0.2.4\r\n$servername$= \r\n$time$=2:05 PM\r\n$gametype$= \r\n"
                          "$crntmap$= \r\n$nextmap$= \r\n$banned$=2\r\n$recent$=0\r\n\r\n"
                          "The value after the equal sign will replace the variable when Announced.\r\n\r\n"
                          "RULES:\r\nThere can be multiple variables per Announcement.\r\n"
                          "A $ CANNOT be used in an Announcement with variables.\r\n"
                          "A $ CAN be used once per Announcement, without variables.\r\n"});
}

TEST_F(MessagesTest, SendNowShowsTheTextThenSendsItWithASecondPass)
{
    StartServer();
    data->setVariable("$servername$", "Omaha");
    AddRows(*data->tblMessages, {"SEQ", "ANNOUNCEMENT"}, {{1, "$servername$ and $servername$"}});
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        dialogs.answerConfirm(true);
        window.actSend->trigger();
    });
    ASSERT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
    EXPECT_EQ(dialogs.callsOf(ScriptedDialogs::Kind::Confirm)[0].text,
              QStringLiteral("Send this Announcement to the server?\r\n\r\nOmaha and $servername$"));
    EXPECT_EQ(sim.commandTexts(), QStringList{"say Omaha and Omaha"});
    EXPECT_EQ(dialogs.texts(ScriptedDialogs::Kind::Message), QStringList{"console: Omaha and Omaha\r\n"});
}

TEST_F(MessagesTest, DecliningSendsNothing)
{
    StartServer();
    AddRows(*data->tblMessages, {"SEQ", "ANNOUNCEMENT"}, {{1, "Welcome"}});
    TformMessages window(*data, *host);
    WhileOpen(window, [&] {
        dialogs.answerConfirm(false);
        window.PopupPlayerData->actions()[1]->trigger();
    });
    EXPECT_EQ(dialogs.callsOf(ScriptedDialogs::Kind::Confirm).size(), 1u);
    EXPECT_TRUE(sim.commandTexts().isEmpty());
    EXPECT_TRUE(dialogs.texts(ScriptedDialogs::Kind::Message).isEmpty());
}

TEST_F(MessagesTest, FailedSendReachesTheErrorHandlerWithoutAReplyBox)
{
    StartServer();
    host->rcon.Password = "wrong";
    AddRows(*data->tblMessages, {"SEQ", "ANNOUNCEMENT"}, {{1, "Welcome"}});
    WhenModalOpens([&](QWidget&) {
        dialogs.answerConfirm(true);
        auto* window = qobject_cast<TformMessages*>(QApplication::activeModalWidget());
        ASSERT_NE(window, nullptr);
        window->actSend->trigger();
    });
    ShowAnnouncements(*data, *host, nullptr);
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("bad rconpassword", Qt::CaseInsensitive)) << errors[0].toStdString();
    EXPECT_TRUE(dialogs.texts(ScriptedDialogs::Kind::Message).isEmpty());
}

}  // namespace
