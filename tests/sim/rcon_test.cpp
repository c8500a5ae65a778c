// The simulator driven by Palisor's own console client, as the monitor drives it.

#include "core/error.h"
#include "rcon/rcon.h"
#include "tests/support/sim/byteprinter.h"
#include "tests/support/sim/simprocess.h"

#include <gtest/gtest.h>

using palisor::TRcon;
using palisor::test::SimProcess;

namespace {

// A long reply: enough players that a split of 300 bytes gives several datagrams.
const char* crowdedServer = R"({"split": 300, "variables": {"mapname": "obj/obj_team2", "sv_hostname": "Main Street",
  "nextmap": "vstr m2", "m2": "map obj/obj_team3; set nextmap vstr m3"},
  "players": [
  {"slot": 0, "name": "Alpha", "address": "10.0.0.1", "port": 1001, "ping": 40, "qport": 1},
  {"slot": 1, "name": "Bravo", "address": "10.0.0.2", "port": 1002, "ping": 50, "qport": 2},
  {"slot": 2, "name": "Bob \"The\" Builder", "address": "10.0.0.3", "port": 1003, "ping": 60, "qport": 3},
  {"slot": 3, "name": "Delta", "address": "10.0.0.4", "port": 1004, "ping": 70, "qport": 4},
  {"slot": 4, "name": "Echo", "address": "10.0.0.5", "port": 1005, "ping": 80, "qport": 5}],
  "timeline": [{"after_status": 1, "set": {"clientban": 3}}]})";

struct Client {
    explicit Client(quint16 port, const QString& password)
    {
        rcon.Host = "127.0.0.1";
        rcon.Port = port;
        rcon.Password = password;
        rcon.ExchangePause = 100;  // loopback datagrams arrive well within it
    }
    TRcon rcon;
};

}  // namespace

TEST(SimWithRcon, EveryCommandComesBackAsTheClientExpectsIt)
{
    SimProcess sim;
    Client c(sim.start(crowdedServer, "secret"), "secret");

    EXPECT_EQ(c.rcon.Command("status").toLatin1(), "map: obj/obj_team2\r\n"
                      "num score ping name            lastmsg address               qport rate\r\n"
                      "--- ----- ---- --------------- ------- --------------------- ----- -----\r\n"
                      "  0     0   40 Alpha                 0 10.0.0.1:1001             1 25000\r\n"
                      "  1     0   50 Bravo                 0 10.0.0.2:1002             2 25000\r\n"
                      "  2     0   60 Bob \"The\" Builder      0 10.0.0.3:1003             3 25000\r\n"
                      "  3     0   70 Delta                 0 10.0.0.4:1004             4 25000\r\n"
                      "  4     0   80 Echo                  0 10.0.0.5:1005             5 25000\r\n"
                      "\r\n");
    EXPECT_EQ(c.rcon.QueryVariable("clientban"), "3");
    EXPECT_EQ(c.rcon.Command("set clientban 99"), "Command Executed\r\n");
    EXPECT_EQ(c.rcon.QueryVariable("clientban"), "99");
    EXPECT_EQ(c.rcon.QueryVariable("no_such_variable"), "");
    EXPECT_EQ(c.rcon.QueryVariable("nextmap"), "vstr m2");
    EXPECT_EQ(c.rcon.QueryVariable("m2"), "map obj/obj_team3; set nextmap vstr m3");
    EXPECT_TRUE(c.rcon.Command("serverinfo").contains("sv_hostname         : Main Street\r\n"));
    EXPECT_EQ(c.rcon.Command("dumpuser \"Bob \"The\" Builder"), "Usage: info <userid>\r\n");
    EXPECT_TRUE(c.rcon.Command("dumpuser \"Delta").startsWith("userinfo\r\n--------\r\nname                Delta\r\n"));
    EXPECT_EQ(c.rcon.Command("say Kicking player Delta for BANNED IP"), "console: Kicking player Delta for BANNED IP\r\n");
    EXPECT_EQ(c.rcon.Command("clientkick 03"), "Command Executed\r\n");
    EXPECT_FALSE(c.rcon.Command("status").contains("Delta"));

    EXPECT_EQ(sim.commandTexts(),
              (QStringList{"status", "clientban", "set clientban 99", "clientban", "no_such_variable", "nextmap", "m2",
                           "serverinfo", "dumpuser \"Bob \"The\" Builder", "dumpuser \"Delta",
                           "say Kicking player Delta for BANNED IP", "clientkick 03", "status"}));
}

TEST(SimWithRcon, WrongPasswordFailsWithTheServersText)
{
    SimProcess sim;
    Client c(sim.start("{}", "secret"), "Secret");
    try {
        c.rcon.Command("status");
        FAIL() << "a wrong password was accepted";
    } catch (const palisor::Error& e) {
        EXPECT_EQ(e.message(), "Bad rconpassword.\r\n");
    }
    ASSERT_EQ(sim.commands().size(), 1);
    EXPECT_EQ(sim.commands()[0].password, "Secret");
    EXPECT_FALSE(sim.commands()[0].accepted);
}
