#include "udppeer.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QStringList>

#include <gtest/gtest.h>


namespace {

const QByteArray kHeader("\xFF\xFF\xFF\xFF\x01print\n");

struct ToolRun {
    int exitCode;
    QByteArray out;
    QByteArray err;
};

ToolRun runTool(const QStringList& arguments, const QByteArray& input = {},
               const QString& environmentPassword = {})
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("PALISOR_RCON_PASSWORD"));
    if (!environmentPassword.isNull())
        environment.insert(QStringLiteral("PALISOR_RCON_PASSWORD"), environmentPassword);
    process.setProcessEnvironment(environment);
    process.start(qEnvironmentVariable("PALISOR_BUILD_DIR") + QStringLiteral("/palisor-rcon"), arguments);
    process.write(input);
    process.closeWriteChannel();
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

// Out of the process list: the password from a file, standard input or the
// environment, and then no password argument.
TEST(Tool, PasswordFromAFileStandardInputOrTheEnvironment)
{
    QTemporaryDir folder;
    QFile password(folder.filePath(QStringLiteral("password")));
    ASSERT_TRUE(password.open(QIODevice::WriteOnly) && password.write("from file\r\nsecond line\n") > 0);
    password.close();
    struct Case {
        QStringList options;
        QByteArray input;
        QString environment;
        QByteArray password;
    };
    const QString file = password.fileName();
    for (const Case& given : {Case{{"--password-file", file}, {}, {}, "from file"},
                              Case{{"--password-file", "-"}, "from stdin\n", {}, "from stdin"},
                              Case{{}, {}, "from env", "from env"},
                              Case{{"--password-file=" + file}, {}, "from env", "from file"}}) {
        UdpPeer server;
        server.answer({kHeader + "ok\n"});
        const QString address = QStringLiteral("127.0.0.1:%1").arg(server.port());
        const ToolRun run = runTool(given.options + QStringList{address, "status"}, given.input, given.environment);
        EXPECT_EQ(run.exitCode, 0) << run.err.constData();
        EXPECT_EQ(server.request().mid(5), "rcon \"" + given.password + "\" status");
    }
    const ToolRun missing = runTool({QStringLiteral("--password-file"), folder.filePath(QStringLiteral("none")),
                                     QStringLiteral("127.0.0.1:12203"), QStringLiteral("status")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.startsWith("palisor-rcon: cannot read the password file ")) << missing.err.constData();
}

TEST(Tool, FailuresGoToStandardError)
{
    const int closed = closedPort();
    const ToolRun refused = runTool({QStringLiteral("127.0.0.1:%1").arg(closed), QStringLiteral("pw"),
                                 QStringLiteral("status")});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_EQ(refused.err, QStringLiteral("palisor-rcon: 127.0.0.1:%1: Socket Error # 111\\r\\nConnection refused\n")
                               .arg(closed)
                               .toUtf8());

    // A refusal that poses as further lines stays on one.
    UdpPeer server;
    server.answer({kHeader + "Bad rconpassword.\n\x1b[2Jpalisor-rcon: all is well\n"});
    const ToolRun badPassword = runTool({QStringLiteral("localhost:%1").arg(server.port()),
                                     QStringLiteral("wrong"), QStringLiteral("status")});
    EXPECT_EQ(badPassword.exitCode, 1);
    EXPECT_EQ(badPassword.err, QStringLiteral("palisor-rcon: localhost:%1: Bad rconpassword.\\r\\n\\x1b[2J"
                                              "palisor-rcon: all is well\n")
                                   .arg(server.port())
                                   .toUtf8());
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
        EXPECT_TRUE(run.err.startsWith("palisor-rcon: ")) << run.err.constData();
        EXPECT_TRUE(run.err.contains("\nusage: palisor-rcon HOST:PORT PASSWORD COMMAND..."));
    }
    EXPECT_EQ(runTool({QStringLiteral("--help")}).exitCode, 0);
    EXPECT_TRUE(runTool({QStringLiteral("--version")}).out.startsWith("palisor-rcon (Palisor) 1.0.4.14"));
}
