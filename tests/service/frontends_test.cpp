// The window and the headless monitor are two front ends of one engine: for
// one scenario the game server receives the same commands in the same order
// from both.
#include "core/timing.h"
#include "rcon/rcon.h"
#include "service/eventwriter.h"
#include "service/headless.h"
#include "store/datapalisor.h"
#include "store/monitorclaim.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/monitor/settle.h"
#include "tests/support/sim/simprocess.h"
#include "window/formpalisor.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QPushButton>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>

using namespace palisor;

namespace {

// An illegal name, a banned address, a ban the server requests, and beside
// them a player who passes.
const QString kScenario = QStringLiteral(R"({"players": [
    {"slot": 2, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48},
    {"slot": 4, "name": "NaziHunter", "address": "203.0.113.9", "port": 12203, "ping": 50},
    {"slot": 6, "name": "Lurker", "address": "10.9.9.9", "port": 12203, "ping": 70},
    {"slot": 8, "name": "Requested", "address": "203.0.113.11", "port": 12203, "ping": 90}],
  "variables": {"sv_hostname": "Parity", "mapname": "obj/obj_team2", "nextmap": "vstr m2",
                "m2": "map obj/obj_team3; set nextmap vstr m1", "clientban": 8}})");

QApplication& App()
{
    static int argc = 1;
    static char name[] = "service_frontends_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void AddRow(LiveTable* table, const char* column, const QString& value)
{
    table->insert();
    table->setValue(QLatin1String(column), value);
    table->post();
}

// The simulator starts before the database opens, so that it inherits none
// of the engine's files.
std::unique_ptr<TDataPalisor> Prepare(test::SimProcess& sim, const test::TempDatabase& db)
{
    const quint16 port = sim.start(kScenario);
    auto data = db.createDataModule();
    data->tblSettings->edit();
    data->tblSettings->setValue("PORT", QString::number(port));
    data->tblSettings->setValue("PASSWORD", QStringLiteral("secret"));
    data->tblSettings->setValue("MSGON", QStringLiteral("True"));
    data->tblSettings->post();
    AddRow(data->tblIllegal, "NAME", QStringLiteral("nazi"));
    data->tblBanned->insert();
    data->tblBanned->setValue("NAME", QStringLiteral("Somebody"));
    data->tblBanned->setValue("ADDRESS", QStringLiteral("10.9.9.9"));
    data->tblBanned->post();
    AddRow(data->tblMessages, "ANNOUNCEMENT", QStringLiteral("Welcome to $servername$ on $crntmap$"));
    return data;
}

// Started, the first poll done, then the announcement due.
void AnnounceAfterTheFirstPoll(MonitorThread& monitor)
{
    test::Settle(monitor);
    monitor.post([](MonitorEngine& engine) { engine.MsgTimerTimer(); });
    test::Settle(monitor);
}

TEST(FrontEnds, SendTheSameCommandsForOneScenario)
{
    App();
    setPauseFunction([](int) {});

    test::SimProcess windowSim, headlessSim;
    test::TempDatabase windowDb, headlessDb;
    {
        auto data = Prepare(windowSim, windowDb);
        TRcon rcon;
        rcon.ExchangePause = 0;
        TformPalisor window(*data, rcon);
        window.btnStart->click();
        AnnounceAfterTheFirstPoll(window.Monitor());
        window.btnStart->click();
        test::Settle(window.Monitor());
    }
    QFile::remove(TformPalisor::IniPath());
    {
        auto data = Prepare(headlessSim, headlessDb);
        data->DisconnectDatabase();
        TRcon rcon;
        rcon.ExchangePause = 0;
        std::FILE* lines = std::tmpfile();
        EventWriter events(MonitorOptions::LogFormat::Json, lines);
        {
            HeadlessMonitor headless(*data, 1, QStringLiteral("Parity"), rcon, events);
            headless.Start();
            AnnounceAfterTheFirstPoll(headless.Monitor());
        }
        std::fclose(lines);
    }
    setPauseFunction({});

    const QStringList sent = windowSim.commandTexts();
    EXPECT_EQ(headlessSim.commandTexts(), sent);
    using ::testing::Contains;
    EXPECT_THAT(sent, Contains("set clientban 99"));
    EXPECT_THAT(sent, Contains("clientkick 04"));
    EXPECT_THAT(sent, Contains("clientkick 06"));
    EXPECT_THAT(sent, Contains("clientkick 08"));
    EXPECT_EQ(sent.last(), "say Welcome to Parity on obj_team2");
}

// A commit that changes the settings row reloads them by itself, with the
// lists, as SIGHUP does.
TEST(Headless, ChangedSettingsAreReloadedByThemselves)
{
    App();
    setPauseFunction([](int) {});
    test::SimProcess sim;
    test::TempDatabase db;
    auto data = Prepare(sim, db);
    TRcon rcon;
    rcon.ExchangePause = 0;
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    std::FILE* out = std::fopen(QFile::encodeName(file.fileName()).constData(), "w");
    EventWriter events(MonitorOptions::LogFormat::Text, out);
    const auto written = [&file] {
        file.seek(0);
        QStringList lines;
        for (const QByteArray& line : file.readAll().split('\n'))
            lines << QString::fromUtf8(line).section(' ', 1).trimmed();
        return lines;
    };
    QStringList lines;
    {
        HeadlessMonitor headless(*data, 1, QStringLiteral("Parity"), rcon, events);
        headless.Start();
        test::Settle(headless.Monitor());
        // What the administrator changed meanwhile, the settings last.
        AddRow(data->tblIllegal, "NAME", QStringLiteral("pepper"));
        sim.clearLog();
        data->tblSettings->edit();
        data->tblSettings->setValue("SCANTIME", QStringLiteral("5"));
        data->tblSettings->post();
        for (QDeadlineTimer deadline(10000); !written().contains("stop server=Parity reason=reload") && !deadline.hasExpired();)
            test::Settle(headless.Monitor());
        test::Settle(headless.Monitor());
        lines = written();
    }
    std::fclose(out);
    setPauseFunction({});

    // A new scan time restarts the monitor, whose first poll applies the new list.
    EXPECT_THAT(sim.commandTexts(), ::testing::Contains("clientkick 02"));
    const qsizetype reload = lines.indexOf("reload server=Parity");
    ASSERT_GE(reload, 1);
    EXPECT_EQ(lines.mid(reload, 3), (QStringList{"reload server=Parity", "stop server=Parity reason=reload",
                                                 "start server=Parity address=127.0.0.1 port=" + QString::number(sim.port())
                                                     + " scantime=5 maxping=250 announcements=5"}));
}

// Two programs' engines on one data folder: the second is refused while the
// first monitors, each poll is stored for the others to show, and a stop
// frees the server.
TEST(Engines, OneMonitorPerGameServer)
{
    App();
    setPauseFunction([](int) {});
    test::SimProcess sim;
    test::TempDatabase db;
    auto data = Prepare(sim, db);
    TRcon serviceRcon, windowRcon;
    serviceRcon.ExchangePause = windowRcon.ExchangePause = 0;
    MonitorThread service(data->Maker(), serviceRcon), window(data->Maker(), windowRcon);
    QStringList serviceErrors, windowErrors;
    QObject::connect(&service.engine(), &MonitorEngine::errorRaised, [&](const QString& e) { serviceErrors << e; });
    QObject::connect(&window.engine(), &MonitorEngine::errorRaised, [&](const QString& e) { windowErrors << e; });
    const QString port = QString::number(sim.port());
    const auto start = [&](MonitorThread& monitor, const MonitorIdentity& who, const QString& password) {
        monitor.post([=](MonitorEngine& engine) {
            engine.SetIdentity(who);
            engine.SetSettings({QStringLiteral("127.0.0.1"), port, password, QStringLiteral("1"), QStringLiteral("250")});
            engine.Start();
        });
        test::Settle(monitor);
    };
    const MonitorIdentity windowId{QStringLiteral("palisor"), QStringLiteral("desk"), 4242};
    start(service, {QStringLiteral("palisor-monitor"), QStringLiteral("gamehost"), 917}, QStringLiteral("secret"));
    start(window, windowId, QStringLiteral("secret"));

    data->Resynchronise({});
    const std::optional<MonitorClaim> claim = ReadClaim(data->database(), 1);
    ASSERT_TRUE(claim);
    EXPECT_EQ(claim->program, "palisor-monitor");
    EXPECT_EQ(windowErrors, QStringList{claim->describe("127.0.0.1:" + port)});
    std::optional<ServerState> state = ReadServerState(data->database(), 1);
    ASSERT_TRUE(state);
    EXPECT_LE(state->polled.secsTo(QDateTime::currentDateTimeUtc()), 60);
    EXPECT_EQ(state->pollError, QString());
    EXPECT_EQ(state->hostName, "Parity");
    EXPECT_EQ(state->curMap, "obj_team2");
    EXPECT_EQ(state->players, 1);   // the others were kicked
    EXPECT_EQ(state->pingMedian, 48);

    // A refused password fails the next poll and stops the monitor.
    service.post([&](MonitorEngine& engine) {
        engine.SetSettings({QStringLiteral("127.0.0.1"), port, QStringLiteral("wrong"), QStringLiteral("1"),
                            QStringLiteral("250")});
    });
    test::Tick(service);
    ASSERT_EQ(serviceErrors.size(), 1);
    data->Resynchronise({});
    state = ReadServerState(data->database(), 1);
    EXPECT_EQ(state->pollError, serviceErrors[0]);
    EXPECT_EQ(state->hostName, "Parity");
    EXPECT_FALSE(ReadClaim(data->database(), 1));

    start(window, windowId, QStringLiteral("secret"));
    EXPECT_EQ(windowErrors.size(), 1);
    data->Resynchronise({});
    ASSERT_TRUE(ReadClaim(data->database(), 1));
    EXPECT_TRUE(windowId.holds(*ReadClaim(data->database(), 1)));

    // Taken over as stale (its host asleep, say), a monitor stops at its
    // next poll and leaves the claim to the new one.
    QSqlDatabase connection = data->database();
    const MonitorIdentity successor{QStringLiteral("palisor-monitor"), QStringLiteral("gamehost"), 918};
    TakeClaim(connection, 1, successor, 1, QString(), QDateTime::currentDateTimeUtc().addSecs(3600), [](const QString&) {});
    test::Tick(window);
    ASSERT_EQ(windowErrors.size(), 2);
    EXPECT_TRUE(windowErrors[1].startsWith("The server 127.0.0.1:" + port + " is monitored by palisor-monitor on gamehost (process 918)"))
        << windowErrors[1].toStdString();
    data->Resynchronise({});
    EXPECT_TRUE(successor.holds(*ReadClaim(data->database(), 1)));
    setPauseFunction({});
}

}  // namespace
