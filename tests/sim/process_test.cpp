// palisor-sim as a program: started through SimProcess, spoken to over UDP
// with a plain socket.

#include "tests/support/sim/byteprinter.h"
#include "tests/support/sim/simprocess.h"

#include <QByteArray>
#include <QList>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using palisor::test::SimCommand;
using palisor::test::SimProcess;

namespace {

const QByteArray header("\xFF\xFF\xFF\xFF\x01print\n", 11);

// A datagram socket that sends framed console commands and collects replies.
class Client {
public:
    explicit Client(quint16 port) : fd_(socket(AF_INET, SOCK_DGRAM, 0))
    {
        server_.sin_family = AF_INET;
        server_.sin_port = htons(port);
        server_.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    }
    ~Client() { close(fd_); }

    void send(const QByteArray& password, const QByteArray& command) const
    {
        const QByteArray frame = QByteArray("\xFF\xFF\xFF\xFF\x02", 5) + "rcon \"" + password + "\" " + command;
        sendto(fd_, frame.constData(), frame.size(), 0, reinterpret_cast<const sockaddr*>(&server_), sizeof server_);
    }

    // Every datagram that arrives until `quietMs` pass without one.
    QList<QByteArray> receive(int quietMs = 300) const
    {
        QList<QByteArray> datagrams;
        pollfd p{fd_, POLLIN, 0};
        while (poll(&p, 1, quietMs) > 0) {
            QByteArray buffer(65536, '\0');
            const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
            if (n < 0)
                break;
            datagrams.append(buffer.left(n));
        }
        return datagrams;
    }

    QByteArray exchange(const QByteArray& password, const QByteArray& command) const
    {
        send(password, command);
        QByteArray text;
        for (const QByteArray& d : receive()) {
            EXPECT_TRUE(d.startsWith(header));
            text += d.mid(header.size());
        }
        return text;
    }

private:
    int fd_;
    sockaddr_in server_{};
};

const char* twoPlayers = R"({"players": [
  {"slot": 0, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48, "qport": 4321},
  {"slot": 3, "name": "Bob \"The\" Builder", "address": "198.51.100.20", "port": 49152, "ping": 300, "qport": 777}],
  "variables": {"mapname": "obj/obj_team2"}})";

}  // namespace

TEST(SimProcess, AnswersOverUdpAndLogsEveryRequestInOrder)
{
    SimProcess sim;
    const quint16 port = sim.start(twoPlayers, "secret");
    ASSERT_NE(port, 0);
    Client client(port);

    const QByteArray status = client.exchange("secret", "status");
    EXPECT_EQ(status, "map: obj/obj_team2\n"
                      "num score ping name            lastmsg address               qport rate\n"
                      "--- ----- ---- --------------- ------- --------------------- ----- -----\n"
                      "  0     0   48 Sgt.Pepper            0 203.0.113.7:12203      4321 25000\n"
                      "  3     0  300 Bob \"The\" Builder      0 198.51.100.20:49152     777 25000\n"
                      "\n");
    EXPECT_EQ(client.exchange("wrong", "status"), "Bad rconpassword.\n");
    EXPECT_EQ(client.exchange("secret", "say Kicking player Bob \"The\" Builder for HIGH PING"),
              "console: Kicking player Bob The Builder for HIGH PING\n");
    EXPECT_EQ(client.exchange("secret", "clientkick 03"), "");
    EXPECT_FALSE(client.exchange("secret", "status").contains("Builder"));

    const QList<SimCommand> log = sim.commands();
    ASSERT_EQ(log.size(), 5);
    EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "status", "say Kicking player Bob \"The\" Builder for HIGH PING",
                                               "clientkick 03", "status"}));
    EXPECT_EQ(log[1].password, "wrong");
    EXPECT_FALSE(log[1].accepted);
    EXPECT_TRUE(log[0].accepted);
    for (int i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].seq, i + 1);
        EXPECT_TRUE(log[i].answered);
        EXPECT_EQ(log[i].sourcePort, log[0].sourcePort);
    }

    sim.clearLog();
    EXPECT_TRUE(sim.commands().isEmpty());
    client.exchange("secret", "dumpuser \"Sgt.Pepper");
    ASSERT_EQ(sim.commands().size(), 1);
    EXPECT_EQ(sim.commands()[0].payload, "rcon \"secret\" dumpuser \"Sgt.Pepper");
}

TEST(SimProcess, SplitRepliesArriveAsSeveralFramedDatagrams)
{
    SimProcess sim;
    Client client(sim.start(R"({"split": 40, "players": [
      {"slot": 0, "name": "Alpha", "address": "10.0.0.1", "port": 1, "ping": 40},
      {"slot": 1, "name": "Bravo", "address": "10.0.0.2", "port": 2, "ping": 50}]})"));
    client.send("secret", "status");
    const QList<QByteArray> datagrams = client.receive();
    ASSERT_GT(datagrams.size(), 5);
    QByteArray text;
    for (const QByteArray& d : datagrams) {
        EXPECT_TRUE(d.startsWith(header));
        EXPECT_LE(d.size(), header.size() + 40);
        text += d.mid(header.size());
    }
    EXPECT_TRUE(text.startsWith("map: dm/mohdm1\n"));
    EXPECT_TRUE(text.contains("  1     0   50 Bravo "));
    EXPECT_TRUE(text.endsWith(" 25000\n\n"));
}

TEST(SimProcess, SilentServerLogsButNeverAnswers)
{
    SimProcess sim;
    Client client(sim.start(R"({"silent": true})", "secret"));
    client.send("secret", "say anyone there?");
    ASSERT_TRUE(sim.waitForCommands(1));
    EXPECT_TRUE(client.receive(200).isEmpty());
    const SimCommand c = sim.commands().value(0);
    EXPECT_EQ(c.command, "say anyone there?");
    EXPECT_TRUE(c.accepted);
    EXPECT_FALSE(c.answered);
}

TEST(SimProcess, ServerWithoutPasswordSaysSo)
{
    SimProcess sim;
    Client client(sim.start("", ""));
    EXPECT_EQ(client.exchange("", "status"), "No rconpassword set on the server.\n");
}

TEST(SimProcess, StartFailsWithTheSimulatorsMessage)
{
    SimProcess sim;
    try {
        sim.start(R"({"players": [{"slot": 0}]})");
        FAIL() << "a broken scenario started";
    } catch (const std::runtime_error& e) {
        const QString scenarioFile = sim.logPath().replace("commands.jsonl", "scenario.json");
        EXPECT_EQ(std::string(e.what()), "palisor-sim did not start: palisor-sim: Scenario "
                                             + scenarioFile.toStdString() + ": players[0]: \"name\" is missing");
    }
    EXPECT_FALSE(sim.running());

    // The same program starts again afterwards and stops on request.
    EXPECT_NE(sim.start(""), 0);
    sim.stop();
    EXPECT_FALSE(sim.running());
}
