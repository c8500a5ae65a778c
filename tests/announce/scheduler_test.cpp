// The announcement variables and the rotation of scheduled announcements,
// against a real database and the simulator's command log.
#include "core/error.h"
#include "monitor/announcements.h"
#include "store/servers.h"
#include "tests/announce/serverfixture.h"

using namespace palisor;

namespace {

class SchedulerTest : public test::ServerFixture {
protected:
    void SetUp() override
    {
        ServerFixture::SetUp();
        scheduler = std::make_unique<AnnouncementScheduler>(*data, [this](const QString& c) { return send(c); });
    }

    void setSettings(const QVariant& msgOn, const QVariant& msgTime)
    {
        data->tblSettings->edit();
        data->tblSettings->setValue(QStringLiteral("MSGON"), msgOn);
        data->tblSettings->setValue(QStringLiteral("MSGTIME"), msgTime);
        data->tblSettings->post();
    }

    void addAnnouncement(int seq, const char* text)
    {
        addRow(data->tblMessages, {{"SEQ", seq}, {"ANNOUNCEMENT", QString::fromLatin1(text)}});
    }

    QStringList ticks(int count)
    {
        sim.clearLog();
        for (int i = 0; i < count; ++i)
            scheduler->MsgTimerTimer();
        return sim.commandTexts();
    }

    std::unique_ptr<AnnouncementScheduler> scheduler;
};

TEST_F(SchedulerTest, SendsTheRowsInSeqOrderAndStartsAgainAfterTheLast)
{
    startServer();
    addAnnouncement(30, "third");
    addAnnouncement(10, "first");
    addAnnouncement(20, "second");
    setSettings(QStringLiteral("True"), 5);

    const AnnouncementScheduler::TimerSetting timer = scheduler->StartAnnouncements();
    EXPECT_TRUE(timer.enabled);
    EXPECT_EQ(timer.interval, 5 * 60000);
    data->tblMessages->setCurrentRow(2);
    EXPECT_EQ(ticks(5), (QStringList{"say first", "say second", "say third", "say first", "say second"}));
    EXPECT_EQ(scheduler->NextAnnouncement, 3);
    // The grid of the announcements editor shares the row; it is put back.
    EXPECT_EQ(data->tblMessages->currentRow(), 2);

    // A new start of the monitor begins the rotation at the first row again.
    EXPECT_TRUE(scheduler->StartAnnouncements().enabled);
    EXPECT_EQ(ticks(1), QStringList{"say first"});
}

TEST_F(SchedulerTest, ARowWithoutSeqLosesItsTurn)
{
    startServer();
    addAnnouncement(1, "first");
    addAnnouncement(2, "unnumbered");
    addAnnouncement(3, "third");
    data->tblMessages->setCurrentRow(1);
    data->tblMessages->edit();
    data->tblMessages->setValue(QStringLiteral("SEQ"), QVariant());
    data->tblMessages->post();
    data->tblMessages->refresh();

    // The emptied row sorts first; its turn comes and passes in silence.
    EXPECT_EQ(ticks(1), QStringList());
    EXPECT_EQ(ticks(3), (QStringList{"say first", "say third"}));
}

// Another server's announcements are not this one's turns.
TEST_F(SchedulerTest, EachServerRotatesTheAnnouncementsForEveryServerAndItsOwn)
{
    startServer();
    QSqlDatabase db = data->database();
    const int other = AddServer(db, QStringLiteral("Other"), QStringLiteral("127.0.0.1"), QStringLiteral("12204"));
    addRow(data->tblMessages, {{"SEQ", 1}, {"ANNOUNCEMENT", QStringLiteral("everywhere")}});
    addRow(data->tblMessages, {{"SEQ", 2}, {"ANNOUNCEMENT", QStringLiteral("elsewhere")}, {"SERVER_ID", other}});
    addRow(data->tblMessages, {{"SEQ", 3}, {"ANNOUNCEMENT", QStringLiteral("here")}, {"SERVER_ID", data->ServerId()}});
    data->tblMessages->refresh();
    EXPECT_EQ(ticks(3), (QStringList{"say everywhere", "say here", "say everywhere"}));
}

TEST_F(SchedulerTest, WithoutRowsNothingIsSentAndTheRotationRunsOn)
{
    startServer();
    EXPECT_EQ(ticks(3), QStringList());
    EXPECT_EQ(scheduler->NextAnnouncement, 4);
}

TEST_F(SchedulerTest, MsgOnSwitchesAnnouncementsOnInAnyLetterCase)
{
    for (const char* on : {"True", "TRUE", "true", "tRuE"}) {
        setSettings(QString::fromLatin1(on), 2);
        scheduler->NextAnnouncement = 7;
        const AnnouncementScheduler::TimerSetting timer = scheduler->StartAnnouncements();
        EXPECT_TRUE(timer.enabled) << on;
        EXPECT_EQ(timer.interval, 120000) << on;
        EXPECT_EQ(scheduler->NextAnnouncement, 1) << on;
    }
    for (const QVariant& off : {QVariant(QStringLiteral("False")), QVariant(QStringLiteral("yes")),
                                QVariant(QString()), QVariant(QStringLiteral(" true"))}) {
        setSettings(off, 2);
        scheduler->NextAnnouncement = 7;
        EXPECT_FALSE(scheduler->StartAnnouncements().enabled) << off.toString().toStdString();
        EXPECT_EQ(scheduler->NextAnnouncement, 7);
    }
}

TEST_F(SchedulerTest, AZeroIntervalNeverArmsTheTimer)
{
    setSettings(QStringLiteral("True"), QVariant());
    EXPECT_FALSE(scheduler->StartAnnouncements().enabled);
    setSettings(QStringLiteral("True"), 0);
    EXPECT_FALSE(scheduler->StartAnnouncements().enabled);
    setSettings(QStringLiteral("True"), 1000000);
    const AnnouncementScheduler::TimerSetting longest = scheduler->StartAnnouncements();
    EXPECT_TRUE(longest.enabled);
    EXPECT_EQ(longest.interval, 35791 * 60000);
}

TEST_F(SchedulerTest, AFailedSendIsTriedAgainAtTheNextTick)
{
    startServer();
    addAnnouncement(1, "first");
    addAnnouncement(2, "second");
    data->tblMessages->setCurrentRow(0);
    EXPECT_EQ(ticks(1), QStringList{"say first"});

    view.password = QStringLiteral("wrong");
    try {
        scheduler->MsgTimerTimer();
        FAIL() << "a refused password must end the tick";
    } catch (const Error& e) {
        EXPECT_TRUE(e.message().contains(QStringLiteral("bad rconpassword"), Qt::CaseInsensitive))
            << e.message().toStdString();
    }
    EXPECT_EQ(scheduler->NextAnnouncement, 2);
    EXPECT_EQ(data->tblMessages->currentRow(), 1);

    view.password = QStringLiteral("secret");
    EXPECT_EQ(ticks(2), (QStringList{"say second", "say first"}));
}

TEST_F(SchedulerTest, AnnouncementsCarryTheValuesOfTheLastRefresh)
{
    startServer();
    addAnnouncement(1, "Welcome to $servername$");
    addAnnouncement(2, "$TIME$ on $crntmap$, $banned$ banned");

    // Before any refresh the values are those of the data module's creation.
    EXPECT_EQ(ticks(1), QStringList{"say Welcome to none"});

    addRow(data->tblBanned, {{"NAME", "Cheater"}, {"ADDRESS", "198.51.100.1"}});
    addRow(data->tblBanned, {{"NAME", "Cheater"}, {"ADDRESS", "198.51.100.2"}});
    addRow(data->tblRecent, {{"NAME", "Bob"}, {"ADDRESS", "203.0.113.9"}});
    setClockFunction([] { return QDateTime(QDate(2024, 6, 1), QTime(14, 5)); });
    UpdateVariables(*data, {"10.0.0.1", "", "", "Bridge", ""});
    EXPECT_EQ(data->Variables, (QStringList{"$serverip$=10.0.0.1", "$servername$= ", "$time$=2:05 PM",
                                            "$gametype$= ", "$crntmap$=Bridge", "$nextmap$= ",
                                            "$banned$=1", "$recent$=1"}));
    // An empty box still replaces its variable, by one blank.
    EXPECT_EQ(ticks(2), (QStringList{"say 2:05 PM on Bridge, 1 banned", "say Welcome to  "}));
}

}  // namespace
