#include "tests/support/sim/byteprinter.h"
#include "tests/support/sim/simprocess.h"

#include <QProcess>

#include <gtest/gtest.h>

// The console tool against the simulator, with a status reply cut into
// datagrams of 40 bytes.
TEST(ToolAgainstSimulator, PrintsTheWholeStatusAndNothingIsSentTwice)
{
    palisor::test::SimProcess sim;
    const quint16 port = sim.start(QStringLiteral(
        R"({"split": 40, "players": [)"
        R"({"slot": 0, "name": "Able", "address": "198.51.100.10", "port": 12203, "ping": 35, "qport": 1234},)"
        R"({"slot": 7, "name": "Jos\u00e9 Two", "address": "198.51.100.11", "port": 5000, "ping": "CNCT",)"
        R"( "qport": 99, "score": 3}]})"));

    QProcess tool;
    tool.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + QStringLiteral("/palisor-rcon"),
               {QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("secret"), QStringLiteral("status")});
    ASSERT_TRUE(tool.waitForFinished(30000));
    EXPECT_EQ(tool.exitCode(), 0);
    EXPECT_EQ(tool.readAllStandardOutput(),
              QByteArray("map: dm/mohdm1\n"
                         "num score ping name            lastmsg address               qport rate\n"
                         "--- ----- ---- --------------- ------- --------------------- ----- -----\n"
                         "  0     0   35 Able                  0 198.51.100.10:12203    1234 25000\n"
                         "  7     3 CNCT Jos\xE9 Two              0 198.51.100.11:5000       99 25000\n"
                         "\n"));
    EXPECT_EQ(sim.commandTexts(), QStringList{QStringLiteral("status")});
}
