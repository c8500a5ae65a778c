// The simulator's console output, byte for byte, as the game server prints it.

#include "sim/console.h"
#include "tests/support/sim/byteprinter.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace palisor::sim;

namespace {

const QByteArray statusHeading =
    "num score ping name            lastmsg address               qport rate\n"
    "--- ----- ---- --------------- ------- --------------------- ----- -----\n";

const char* threePlayers = R"({
  "players": [
    {"slot": 0, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48,
     "score": 12, "lastmsg": 50, "qport": 4321, "rate": 25000},
    {"slot": 3, "name": "UnnamedSoldier", "address": "198.51.100.20", "port": 49152, "ping": "CNCT",
     "lastmsg": 1200, "qport": 777, "rate": 5000},
    {"slot": 5, "name": "AVeryLongPlayerName01", "address": "bot", "ping": 999, "score": -2,
     "rate": 16384}
  ],
  "variables": {"mapname": "obj/obj_team2"}
})";

struct Server {
    explicit Server(const char* json) : state(parseScenario(json)), console(state) {}
    QByteArray run(const QByteArray& line) { return console.execute(line); }
    ServerState state;
    Console console;
};

}  // namespace

TEST(SimConsole, StatusPrintsTheEngineColumns)
{
    Server s(threePlayers);
    EXPECT_EQ(s.run("status"),
              "map: obj/obj_team2\n" + statusHeading +
                  "  0    12   48 Sgt.Pepper           50 203.0.113.7:12203      4321 25000\n"
                  "  3     0 CNCT UnnamedSoldier     1200 198.51.100.20:49152     777  5000\n"
                  "  5    -2  999 AVeryLongPlayerName01      0 bot                       0 16384\n"
                  "\n");
}

TEST(SimConsole, StatusPadsNamesByBytesAndKeepsEveryByte)
{
    Server s(R"({"players": [
      {"slot": 1, "name": "Bo\"b \u00e9\u00ff", "address": "10.0.0.1", "port": 5, "ping": 120, "qport": 1},
      {"slot": 2, "name": "Exactly16Chars!!", "address": "10.0.0.2", "port": 6, "ping": 12345, "qport": 2},
      {"slot": 12, "name": "Leaving", "address": "loopback", "ping": "ZMBI", "lastmsg": 9000}
    ], "variables": {"mapname": "dm/mohdm6"}})");
    const QByteArray expected =
        "map: dm/mohdm6\n" + statusHeading +
        QByteArray("  1     0  120 Bo\"b \xE9\xFF               0 10.0.0.1:5                1 25000\n") +
        "  2     0 9999 Exactly16Chars!!      0 10.0.0.2:6                2 25000\n"
        " 12     0 ZMBI Leaving            9000 loopback                  0 25000\n"
        "\n";
    EXPECT_EQ(s.run("STATUS"), expected);

    Server empty(R"({"variables": {"mapname": "lib/mp_ship_lib"}})");
    EXPECT_EQ(empty.run("status"), "map: lib/mp_ship_lib\n" + statusHeading + "\n");
}

TEST(SimConsole, JitterMovesHumanPingsWithinItsRangeOnly)
{
    Server s(R"({"jitter": 10, "seed": 7, "players": [
      {"slot": 0, "name": "Human", "address": "10.0.0.1", "port": 5, "ping": 100},
      {"slot": 1, "name": "Bot", "address": "bot", "ping": 50}]})");
    QSet<int> seen;
    for (int i = 0; i < 40; ++i) {
        const QList<QByteArray> lines = s.run("status").split('\n');
        const int human = lines[3].mid(10, 4).trimmed().toInt();
        EXPECT_GE(human, 90);
        EXPECT_LE(human, 110);
        seen.insert(human);
        EXPECT_EQ(lines[4].mid(10, 4), "  50");
    }
    EXPECT_GT(seen.size(), 3);

    Server again(R"({"jitter": 10, "seed": 7, "players": [
      {"slot": 0, "name": "Human", "address": "10.0.0.1", "port": 5, "ping": 100}]})");
    Server same(R"({"jitter": 10, "seed": 7, "players": [
      {"slot": 0, "name": "Human", "address": "10.0.0.1", "port": 5, "ping": 100}]})");
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(again.run("status"), same.run("status"));
}

TEST(SimConsole, ServerInfoPadsKeysToTwentyColumns)
{
    Server s(R"({"variables": {"sv_hostname": "My Server: the best", "g_gametypestring": "Objective-Match",
      "g_gametype": 4, "mapname": "obj/obj_team2", "sv_maxclients": 32,
      "a_very_long_variable_name": {"value": "x", "serverinfo": true}, "hidden": "not shown"}})");
    EXPECT_EQ(s.run("serverinfo"),
              "Server info settings:\n"
              "a_very_long_variable_name: x\n"
              "fraglimit           : 0\n"
              "g_gametype          : 4\n"
              "g_gametypestring    : Objective-Match\n"
              "mapname             : obj/obj_team2\n"
              "sv_hostname         : My Server: the best\n"
              "sv_maxclients       : 32\n"
              "timelimit           : 0\n");
}

TEST(SimConsole, BareVariableNamePrintsValueAndDefault)
{
    Server s(R"({"variables": {"sv_hostname": "Main Street", "nextmap": "vstr m2", "clientban": 5}})");
    EXPECT_EQ(s.run("sv_hostname"), "\"sv_hostname\" is:\"Main Street\" default:\"noname\"\n");
    EXPECT_EQ(s.run("NextMap"), "\"nextmap\" is:\"vstr m2\" default:\"vstr m2\"\n");
    EXPECT_EQ(s.run("clientban"), "\"clientban\" is:\"5\" default:\"99\"\n");
    EXPECT_EQ(s.run("no_such_variable"), "");

    EXPECT_EQ(s.run("clientban 99"), "");
    EXPECT_EQ(s.run("clientban"), "\"clientban\" is:\"99\" default:\"99\"\n");

    Server removed(R"({"variables": {"clientban": null}})");
    EXPECT_EQ(removed.run("clientban"), "");
}

TEST(SimConsole, SetStoresTheRestOfTheLine)
{
    Server s("{}");
    EXPECT_EQ(s.run("set clientban 99"), "");
    EXPECT_EQ(s.run("set nextmap vstr m3"), "");
    EXPECT_EQ(s.run("nextmap"), "\"nextmap\" is:\"vstr m3\" default:\"vstr m3\"\n");
    EXPECT_EQ(s.run("set nextmap"), "usage: set <variable> <value>\n");
    EXPECT_EQ(s.run("set bad;name 1"), "invalid cvar name string: bad;name\n");

    EXPECT_EQ(s.run("sets g_custom hello"), "");
    EXPECT_TRUE(s.run("serverinfo").contains("g_custom            : hello\n"));
}

TEST(SimConsole, SayPrintsTheTextUpToAnUnquotedComment)
{
    Server s("{}");
    EXPECT_EQ(s.run("say Kicking player Bob for HIGH PING"), "console: Kicking player Bob for HIGH PING\n");
    EXPECT_EQ(s.run("say Visit http://example.org now"), "console: Visit http:\n");
    EXPECT_EQ(s.run("say \"Visit http://example.org now\""), "console: Visit http://example.org now\n");
    EXPECT_EQ(s.run("say Caf\xE9  open"), "console: Caf\xE9 open\n");
    EXPECT_EQ(s.run("say"), "");
}

TEST(SimConsole, ClientKickRemovesThePlayerOrSaysWhyNot)
{
    Server s(threePlayers);
    EXPECT_EQ(s.run("clientkick 03"), "");
    EXPECT_EQ(s.state.player(3), nullptr);
    EXPECT_EQ(s.run("clientkick 3"), "Client 3 is not active\n");
    EXPECT_EQ(s.run("clientkick 32"), "Bad client slot: 32\n");
    EXPECT_EQ(s.run("clientkick 0x1"), "Bad slot number: 0x1\n");
    EXPECT_EQ(s.run("clientkick"), "Usage: kicknum <client number>\n");
    EXPECT_EQ(s.run("clientkick 1 2"), "Usage: kicknum <client number>\n");
    EXPECT_FALSE(s.run("status").contains("UnnamedSoldier"));
}

TEST(SimConsole, DumpUserFindsTheNameAsTheTokenizerReadsIt)
{
    Server s(R"({"players": [
      {"slot": 4, "name": "Bob Smith", "address": "192.0.2.9", "port": 12203, "ping": 80, "rate": 20000,
       "userinfo": {"dm_playermodel": "american_ranger", "dm_playergermanmodel": "german_scientist"}},
      {"slot": 6, "name": "Tin Can", "address": "bot", "ping": 0}]})");
    const QByteArray bob = "userinfo\n"
                           "--------\n"
                           "name                Bob Smith\n"
                           "rate                20000\n"
                           "snaps               20\n"
                           "dm_playergermanmodelgerman_scientist\n"
                           "dm_playermodel      american_ranger\n"
                           "ip                  192.0.2.9:12203\n";
    // The client sends an opening quote and no closing one.
    EXPECT_EQ(s.run("dumpuser \"Bob Smith"), bob);
    EXPECT_EQ(s.run("dumpuser \"bob smith\""), bob);
    EXPECT_EQ(s.run("dumpuser Bob Smith"), "Usage: info <userid>\n");
    EXPECT_EQ(s.run("dumpuser \"Nobody"), "Player Nobody is not on the server\n");
    EXPECT_EQ(s.run("dumpuser \"Tin Can"),
              "userinfo\n--------\nname                Tin Can\nrate                25000\nsnaps               20\n");
}

TEST(SimConsole, VstrRunsTheRotationAndSwitchesTheMap)
{
    Server s(R"({"variables": {"mapname": "obj/obj_team2", "nextmap": "vstr m2",
      "m2": "map obj/obj_team3; set nextmap vstr m3", "m3": "map obj/obj_team4; set nextmap vstr m2",
      "sv_maplist": "obj/obj_team2 obj/obj_team3 obj/obj_team4", "loop": "vstr loop"}})");
    EXPECT_EQ(s.run("m2"), "\"m2\" is:\"map obj/obj_team3; set nextmap vstr m3\" default:\"map obj/obj_team3; set "
                           "nextmap vstr m3\"\n");
    EXPECT_EQ(s.run("vstr nextmap"), "");
    EXPECT_EQ(s.state.mapName(), "obj/obj_team3");
    EXPECT_EQ(s.run("nextmap"), "\"nextmap\" is:\"vstr m3\" default:\"vstr m2\"\n");
    s.run("vstr nextmap");
    EXPECT_EQ(s.state.mapName(), "obj/obj_team4");
    EXPECT_TRUE(s.run("serverinfo").contains("mapname             : obj/obj_team4\n"));
    EXPECT_TRUE(s.run("status").startsWith("map: obj/obj_team4\n"));

    EXPECT_EQ(s.run("vstr"), "vstr <variablename> : execute a variable command\n");
    EXPECT_EQ(s.run("vstr loop"), "");  // a variable that names itself ends
    s.run("map dm/mohdm6");
    EXPECT_EQ(s.state.mapName(), "dm/mohdm6");
}

TEST(SimConsole, TokenizerFollowsTheEngine)
{
    EXPECT_EQ(tokenize("  dumpuser \"Bob"), (QList<QByteArray>{"dumpuser", "Bob"}));
    EXPECT_EQ(tokenize("say a\"b c\"d"), (QList<QByteArray>{"say", "a", "b c", "d"}));
    EXPECT_EQ(tokenize("set x /* note */ 1 // rest"), (QList<QByteArray>{"set", "x", "1"}));
    EXPECT_EQ(tokenize("a/*unclosed"), (QList<QByteArray>{"a"}));
    EXPECT_EQ(tokenize("\"\""), (QList<QByteArray>{""}));
    EXPECT_EQ(tokenize("\xE9t\xE9 \x7F"), (QList<QByteArray>{"\xE9t\xE9", "\x7F"}));
    EXPECT_EQ(splitCommands("map a; set b \"x;y\"\nvstr c"),
              (QList<QByteArray>{"map a", " set b \"x;y\"", "vstr c"}));
}
