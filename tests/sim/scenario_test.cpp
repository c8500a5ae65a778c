// Scenario files: clear messages for mistakes, and the timeline of changes.

#include "core/error.h"
#include "sim/simserver.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace palisor::sim;

namespace {

QString loadError(const QByteArray& json)
{
    try {
        SimServer server(parseScenario(json), "pw");
    } catch (const palisor::Error& e) {
        return e.message();
    }
    return "no error";
}

const char* player0 = R"("slot": 0, "name": "A", "address": "10.0.0.1", "port": 1)";

}  // namespace

TEST(SimScenario, MistakesAreNamedWithTheirPlace)
{
    const QByteArray p0 = player0;
    EXPECT_TRUE(loadError("{\"players\": [").startsWith("Scenario: not valid JSON: "));
    EXPECT_EQ(loadError("[]"), "Scenario: the top level must be an object");
    EXPECT_EQ(loadError(R"({"player": []})"), "Scenario: top level: unknown key \"player\"");
    EXPECT_EQ(loadError(R"({"players": {}})"), "Scenario: players: expected an array");
    EXPECT_EQ(loadError("{\"players\": [{" + p0 + ", \"ping\": 5}, {" + p0 + "}]}"),
              "Scenario: players[1]: \"ping\" is missing");
    EXPECT_EQ(loadError("{\"players\": [{" + p0 + ", \"ping\": \"fast\"}]}"),
              "Scenario: players[0].ping: expected a whole number from 0 to 99999, \"CNCT\" or \"ZMBI\"");
    EXPECT_EQ(loadError(R"({"players": [{"slot": 0, "name": "\u0100", "address": "bot", "ping": 1}]})"),
              "Scenario: players[0].name: character U+0100 is not a byte from 0x20 to 0xFF");
    EXPECT_EQ(loadError(R"({"players": [{"slot": 0, "name": "Tab\there", "address": "bot", "ping": 1}]})"),
              "Scenario: players[0].name: character U+0009 is not a byte from 0x20 to 0xFF");
    EXPECT_EQ(loadError(R"({"players": [{"slot": 2.5, "name": "A", "address": "bot", "ping": 1}]})"),
              "Scenario: players[0].slot: expected a whole number from 0 to 63");
    EXPECT_EQ(loadError(R"({"players": [{"slot": 1, "name": "A", "address": "example.org", "port": 1, "ping": 1}]})"),
              "Scenario: players[0].address: expected a dotted IPv4 address, \"bot\" or \"loopback\"");
    EXPECT_EQ(loadError(R"({"players": [{"slot": 1, "name": "A", "address": "10.0.0.1", "ping": 1}]})"),
              "Scenario: players[0]: \"port\" is missing");
    EXPECT_EQ(loadError("{\"players\": [{" + p0 + ", \"ping\": 5}, {" + p0 + ", \"ping\": 6}]}"),
              "Scenario: players[1].slot: slot 0 is used twice");
    EXPECT_EQ(loadError(R"({"players": [{"slot": 20, "name": "A", "address": "bot", "ping": 1}],
                          "variables": {"sv_maxclients": 16}})"),
              "Scenario: players[0]: slot 20 does not fit sv_maxclients 16");
    EXPECT_EQ(loadError(R"({"variables": {"two words": 1}})"),
              "Scenario: variables.two words: a variable name must be one word without quotes or semicolons");
    EXPECT_EQ(loadError(R"({"split": -1})"), "Scenario: split: expected a whole number from 0 to 65000");
    EXPECT_EQ(loadError(R"({"silent": "yes"})"), "Scenario: silent: expected true or false");
    EXPECT_EQ(loadError(R"({"timeline": [{"after_status": 1, "at_seconds": 3, "leave": 1}]})"),
              "Scenario: timeline[0]: give exactly one of \"after_status\" and \"at_seconds\"");
    EXPECT_EQ(loadError(R"({"timeline": [{"after_status": 1}]})"), "Scenario: timeline[0]: the event changes nothing");
    EXPECT_EQ(loadError(R"({"timeline": [{"after_status": 1, "ping": {"x": 5}}]})"),
              "Scenario: timeline[0].ping: \"x\" is not a client slot from 0 to 63");
    EXPECT_EQ(loadError(R"({"timeline": [{"at_seconds": 1, "join": {"slot": 40, "name": "A", "address": "bot",
                          "ping": 1}}]})"),
              "Scenario: timeline[0].join: slot 40 does not fit sv_maxclients 32");
}

TEST(SimScenario, FileErrorsNameTheFile)
{
    try {
        loadScenarioFile("/nonexistent/scenario.json");
        FAIL() << "a missing file loaded";
    } catch (const palisor::Error& e) {
        EXPECT_TRUE(e.message().startsWith("Scenario /nonexistent/scenario.json: cannot be read: ")) << e.message().toStdString();
    }

    QTemporaryDir dir;
    QFile file(dir.filePath("crowded.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"players": [{"slot": 40, "name": "A", "address": "bot", "ping": 1}]})");
    file.close();
    try {
        SimServer(loadScenarioFile(file.fileName()), "pw");
        FAIL() << "a slot beyond sv_maxclients loaded";
    } catch (const palisor::Error& e) {
        EXPECT_EQ(e.message(), "Scenario " + file.fileName() + ": players[0]: slot 40 does not fit sv_maxclients 32");
    }
}

TEST(SimScenario, StatusKeyedEventsFollowTheNumberOfStatusReplies)
{
    const Scenario scenario = parseScenario(R"({
      "players": [{"slot": 1, "name": "Steady", "address": "10.0.0.1", "port": 1, "ping": 40}],
      "timeline": [
        {"after_status": 1, "join": {"slot": 2, "name": "Newcomer", "address": "10.0.0.2", "port": 2, "ping": "CNCT"}},
        {"after_status": 2, "ping": {"2": 310, "1": 45}, "set": {"clientban": "2"}},
        {"after_status": 3, "leave": [2], "score": {"1": 7}, "command": "set clientban 99; map obj/obj_team3"}
      ]})");
    ServerState state(scenario);
    Console console(state);
    Timeline timeline(scenario.timeline, 0);
    auto poll = [&] {
        const QByteArray reply = console.execute("status");
        timeline.afterStatus(state.statusCount(), state, console);
        return reply;
    };

    EXPECT_FALSE(poll().contains("Newcomer"));
    EXPECT_TRUE(poll().contains("  2     0 CNCT Newcomer"));
    EXPECT_EQ(state.variable("clientban")->value, "2");
    const QByteArray third = poll();
    EXPECT_TRUE(third.contains("  2     0  310 Newcomer"));
    EXPECT_TRUE(third.contains("  1     0   45 Steady"));
    EXPECT_EQ(state.variable("clientban")->value, "99");
    const QByteArray fourth = poll();
    EXPECT_FALSE(fourth.contains("Newcomer"));
    EXPECT_TRUE(fourth.startsWith("map: obj/obj_team3\n"));
    EXPECT_TRUE(fourth.contains("  1     7   45 Steady"));
}

TEST(SimScenario, SecondsKeyedEventsHappenOnTimeAndLoop)
{
    ServerState state(parseScenario("{}"));
    Console console(state);
    Timeline timeline(parseScenario(R"({"timeline": [
        {"at_seconds": 10, "set": {"phase": "a"}},
        {"at_seconds": 20, "set": {"phase": "b"}}]})").timeline, 30);
    auto phaseAt = [&](double seconds) {
        timeline.atTime(static_cast<qint64>(seconds * 1000), state, console);
        const Variable* v = state.variable("phase");
        return v ? v->value : QByteArray("none");
    };
    EXPECT_EQ(phaseAt(9.9), "none");
    EXPECT_EQ(phaseAt(10), "a");
    EXPECT_EQ(phaseAt(25), "b");
    EXPECT_EQ(phaseAt(39), "b");
    EXPECT_EQ(phaseAt(41), "a");
    EXPECT_EQ(phaseAt(50), "b");
    // After a long quiet spell each event happens once, in file order.
    EXPECT_EQ(phaseAt(500), "b");
    EXPECT_EQ(phaseAt(500), "b");
}

TEST(SimScenario, ShippedScenariosLoad)
{
    for (const char* name : {"demo.json", "split.json", "silent.json"}) {
        const QString path = QStringLiteral(PALISOR_SCENARIO_DIR "/") + name;
        SCOPED_TRACE(path.toStdString());
        EXPECT_NO_THROW(SimServer(loadScenarioFile(path), "demo-rcon"));
    }
}

TEST(SimScenario, DemoLooksLikeABusyObjectiveServer)
{
    const Scenario demo = loadScenarioFile(QStringLiteral(PALISOR_SCENARIO_DIR "/demo.json"));
    SimServer server(demo, "demo-rcon");
    const ServerState& state = server.state();
    EXPECT_GE(state.players().size(), 6u);
    EXPECT_LE(state.players().size(), 12u);
    EXPECT_EQ(state.variable("g_gametypestring")->value, "Objective-Match");
    EXPECT_EQ(state.maxClients(), 32);
    EXPECT_EQ(state.variable("clientban")->value, "99");
    EXPECT_FALSE(state.variable("sv_hostname")->value.isEmpty());

    bool quoteInName = false;
    for (const auto& [slot, p] : state.players())
        quoteInName = quoteInName || p.name.contains('"') || p.name.contains('\'');
    bool highPing = false, banRequest = false, joins = false, leaves = false, mapChange = false;
    for (const TimelineEvent& e : demo.timeline) {
        for (const PingSetting& s : e.ping)
            highPing = highPing || s.ping > 250;
        for (const VariableSetting& v : e.set)
            banRequest = banRequest || (v.name == "clientban" && v.value != "99");
        joins = joins || !e.join.isEmpty();
        leaves = leaves || !e.leave.isEmpty();
        mapChange = mapChange || e.command.contains("vstr");
    }
    EXPECT_TRUE(quoteInName);
    EXPECT_TRUE(highPing);
    EXPECT_TRUE(banRequest);
    EXPECT_TRUE(joins);
    EXPECT_TRUE(leaves);
    EXPECT_TRUE(mapChange);
    EXPECT_GT(demo.jitter, 0);
    EXPECT_GT(demo.loopSeconds, 0);
}
