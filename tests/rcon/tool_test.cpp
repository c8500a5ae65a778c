#include "udppeer.h"

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

namespace {

const QByteArray kHeader("\xFF\xFF\xFF\xFF\x01print\n");

struct ToolRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QStringList& arguments)
{
    QProcess process;
    process.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + QStringLiteral("/palisor-rcon"), arguments);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

}  // namespace

TEST(Tool, SendsTheJoinedCommandAndPrintsTheReply)
{
    UdpPeer server;
    server.answer({kHeader + "console: hello  world\r\n"});
    const ToolRun run = runTool({QStringLiteral("127.0.0.1:%1").arg(server.port()), QStringLiteral("pw"),
                             QStringLiteral("say"), QStringLiteral("hello "), QStringLiteral("world")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, QByteArray("console: hello  world\n"));
    EXPECT_EQ(server.request(), QByteArray("\xFF\xFF\xFF\xFF\x02rcon \"pw\" say hello  world"));
}

TEST(Tool, FailuresGoToStandardError)
{
    const ToolRun refused = runTool({QStringLiteral("127.0.0.1:%1").arg(closedPort()), QStringLiteral("pw"),
                                 QStringLiteral("status")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_EQ(refused.err, QByteArray("Socket Error # 111\nConnection refused\n"));

    UdpPeer server;
    server.answer({kHeader + "Bad rconpassword.\n"});
    const ToolRun badPassword = runTool({QStringLiteral("localhost:%1").arg(server.port()),
                                     QStringLiteral("wrong"), QStringLiteral("status")});
    EXPECT_EQ(badPassword.exitCode, 1);
    EXPECT_EQ(badPassword.err, QByteArray("Bad rconpassword.\n"));
}

TEST(Tool, WrongUsageExitsWithTwo)
{
    for (const QStringList& arguments :
         {QStringList{}, QStringList{QStringLiteral("127.0.0.1:12203"), QStringLiteral("pw")},
          QStringList{QStringLiteral("127.0.0.1"), QStringLiteral("pw"), QStringLiteral("status")},
          QStringList{QStringLiteral("127.0.0.1:70000"), QStringLiteral("pw"), QStringLiteral("status")},
          QStringList{QStringLiteral(":12203"), QStringLiteral("pw"), QStringLiteral("status")}}) {
        const ToolRun run = runTool(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.join(u' ').toStdString();
        EXPECT_TRUE(run.err.startsWith("usage: palisor-rcon HOST:PORT PASSWORD COMMAND..."));
    }
    EXPECT_EQ(runTool({QStringLiteral("--help")}).exitCode, 0);
    EXPECT_TRUE(runTool({QStringLiteral("--version")}).out.startsWith("palisor-rcon (Palisor) 1.0.4.14"));
}
