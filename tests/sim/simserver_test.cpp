// The simulator's datagram handling: framing, passwords, splitting,
// unanswered requests and the command log.

#include "sim/simserver.h"
#include "tests/support/sim/byteprinter.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace palisor::sim;

namespace {

const QByteArray header("\xFF\xFF\xFF\xFF\x01print\n", 11);

QByteArray request(const QByteArray& password, const QByteArray& command)
{
    return QByteArray("\xFF\xFF\xFF\xFF\x02", 5) + "rcon \"" + password + "\" " + command;
}

const char* fourPlayers = R"({"players": [
  {"slot": 0, "name": "Alpha", "address": "10.0.0.1", "port": 1001, "ping": 40},
  {"slot": 1, "name": "Bravo", "address": "10.0.0.2", "port": 1002, "ping": 50},
  {"slot": 2, "name": "Charlie", "address": "10.0.0.3", "port": 1003, "ping": 60},
  {"slot": 3, "name": "Delta", "address": "10.0.0.4", "port": 1004, "ping": 70}]})";

QByteArray textOf(const QList<QByteArray>& datagrams)
{
    QByteArray text;
    for (const QByteArray& d : datagrams) {
        EXPECT_TRUE(d.startsWith(header));
        text += d.mid(header.size());
    }
    return text;
}

}  // namespace

TEST(SimServer, RepliesStartWithTheHeaderEvenWhenNothingIsPrinted)
{
    SimServer server(parseScenario(R"({"variables": {"sv_hostname": "Main Street"}})"), "secret");
    const Reception read = server.receive(request("secret", "sv_hostname"), 40000, 0);
    EXPECT_EQ(read.datagrams, (QList<QByteArray>{header + "\"sv_hostname\" is:\"Main Street\" default:\"noname\"\n"}));

    const Reception set = server.receive(request("secret", "set clientban 99"), 40000, 0);
    EXPECT_EQ(set.datagrams, QList<QByteArray>{header});
    const Reception unknown = server.receive(request("secret", "no_such_variable"), 40000, 0);
    EXPECT_EQ(unknown.datagrams, QList<QByteArray>{header});
}

TEST(SimServer, PasswordsAreCheckedBeforeAnythingRuns)
{
    SimServer server(parseScenario("{}"), "secret");
    const Reception wrong = server.receive(request("Secret", "set clientban 4"), 40000, 0);
    EXPECT_EQ(wrong.datagrams, QList<QByteArray>{header + "Bad rconpassword.\n"});
    EXPECT_FALSE(wrong.entry.accepted);
    EXPECT_TRUE(wrong.entry.answered);
    EXPECT_EQ(server.state().variable("clientban")->value, "99");

    const Reception none = server.receive(QByteArray("\xFF\xFF\xFF\xFF\x02rcon", 9), 40000, 0);
    EXPECT_EQ(none.datagrams, QList<QByteArray>{header + "Bad rconpassword.\n"});

    SimServer open(parseScenario("{}"), "");
    const Reception any = open.receive(request("", "status"), 40000, 0);
    EXPECT_EQ(any.datagrams, QList<QByteArray>{header + "No rconpassword set on the server.\n"});
    EXPECT_FALSE(any.entry.accepted);

    // The engine steps over the password by blanks, so one with a blank is
    // accepted but leaves its second half in front of the command.
    SimServer blank(parseScenario("{}"), "pa ss");
    const Reception r = blank.receive(request("pa ss", "set clientban 4"), 40000, 0);
    EXPECT_TRUE(r.entry.accepted);
    EXPECT_EQ(r.entry.command, "ss\" set clientban 4");
    EXPECT_EQ(blank.state().variable("clientban")->value, "99");
}

TEST(SimServer, TheLogEntryRecordsWhatWasSent)
{
    SimServer server(parseScenario("{}"), "secret");
    const Reception first = server.receive(request("secret", "dumpuser \"Bo\xE9"), 40001, 0);
    EXPECT_EQ(first.entry.seq, 1);
    EXPECT_EQ(first.entry.sourcePort, 40001);
    EXPECT_TRUE(first.entry.rcon);
    EXPECT_EQ(first.entry.password, "secret");
    EXPECT_EQ(first.entry.command, "dumpuser \"Bo\xE9");
    EXPECT_EQ(first.entry.payload, "rcon \"secret\" dumpuser \"Bo\xE9");
    EXPECT_TRUE(first.entry.accepted);
    EXPECT_TRUE(first.entry.answered);

    const QJsonObject logged = QJsonDocument::fromJson(logLine(first.entry)).object();
    EXPECT_TRUE(logLine(first.entry).endsWith("}\n"));
    EXPECT_EQ(logged["seq"].toInt(), 1);
    EXPECT_EQ(logged["port"].toInt(), 40001);
    EXPECT_EQ(logged["command"].toString(), QString::fromLatin1("dumpuser \"Bo\xE9"));
    EXPECT_EQ(logged["password"].toString(), "secret");
    EXPECT_TRUE(logged["accepted"].toBool());
    EXPECT_TRUE(logged["answered"].toBool());
    EXPECT_TRUE(logged["rcon"].toBool());

    // Only the first line of a request runs; the log keeps all of it.
    const Reception twoLines = server.receive(request("secret", "set a 1\nset b 2"), 40001, 0);
    EXPECT_EQ(twoLines.entry.seq, 2);
    EXPECT_EQ(twoLines.entry.command, "set a 1");
    EXPECT_EQ(twoLines.entry.payload, "rcon \"secret\" set a 1\nset b 2");
    EXPECT_NE(server.state().variable("a"), nullptr);
    EXPECT_EQ(server.state().variable("b"), nullptr);

    for (const QByteArray& other : {QByteArray("status"), QByteArray("\xFF\xFF\xFF\xFF\x02getstatus", 14)}) {
        const Reception ignored = server.receive(other, 40002, 0);
        EXPECT_FALSE(ignored.entry.rcon);
        EXPECT_FALSE(ignored.entry.answered);
        EXPECT_TRUE(ignored.datagrams.isEmpty());
    }
}

TEST(SimServer, SplitRepliesCarryAHeaderInEveryDatagram)
{
    Scenario scenario = parseScenario(fourPlayers);
    const QByteArray whole = textOf(SimServer(scenario, "pw").receive(request("pw", "status"), 1, 0).datagrams);
    ASSERT_GT(whole.size(), 300);

    scenario.split = 100;
    const QList<QByteArray> parts = SimServer(scenario, "pw").receive(request("pw", "status"), 1, 0).datagrams;
    EXPECT_EQ(parts.size(), (whole.size() + 99) / 100);
    EXPECT_EQ(textOf(parts), whole);
    EXPECT_FALSE(parts[0].endsWith('\n'));  // the cut falls inside a line

    EXPECT_EQ(frameReply("", 10), QList<QByteArray>{header});
    EXPECT_EQ(frameReply(QByteArray(20, 'x'), 10).size(), 2);
    EXPECT_EQ(frameReply(QByteArray(21, 'x'), 10).size(), 3);
    EXPECT_EQ(frameReply(QByteArray(70000, 'x'), 0).size(), 2);
}

TEST(SimServer, UnansweredRequestsAreLoggedButNotRun)
{
    Scenario silent = parseScenario(R"({"silent": true})");
    SimServer quiet(silent, "pw");
    const Reception r = quiet.receive(request("pw", "set clientban 3"), 1, 0);
    EXPECT_TRUE(r.datagrams.isEmpty());
    EXPECT_TRUE(r.entry.rcon);
    EXPECT_TRUE(r.entry.accepted);
    EXPECT_FALSE(r.entry.answered);
    EXPECT_EQ(quiet.state().variable("clientban")->value, "99");

    SimServer everyOther(parseScenario(R"({"answer_every": 2})"), "pw");
    QList<bool> answered;
    for (int i = 0; i < 4; ++i)
        answered.append(!everyOther.receive(request("pw", "status"), 1, 0).datagrams.isEmpty());
    EXPECT_EQ(answered, (QList<bool>{false, true, false, true}));
    EXPECT_EQ(everyOther.state().statusCount(), 2);

    SimServer paced(parseScenario(R"({"min_interval_ms": 500})"), "pw");
    QList<bool> paces;
    for (qint64 t : {0, 300, 600, 900, 1100, 1600})
        paces.append(paced.receive(request("pw", "status"), 1, t).entry.answered);
    EXPECT_EQ(paces, (QList<bool>{true, false, true, false, true, true}));
}

TEST(SimServer, TimelineFollowsTheRequests)
{
    SimServer server(parseScenario(R"({
      "players": [{"slot": 4, "name": "Cheater", "address": "10.0.0.9", "port": 9, "ping": 30}],
      "timeline": [
        {"after_status": 1, "set": {"clientban": 4}},
        {"at_seconds": 60, "leave": 4}]})"),
                     "pw");
    EXPECT_TRUE(textOf(server.receive(request("pw", "status"), 1, 0).datagrams).contains("Cheater"));
    // A poll reads clientban right after status: the request is already there.
    EXPECT_EQ(textOf(server.receive(request("pw", "clientban"), 1, 10).datagrams),
              "\"clientban\" is:\"4\" default:\"99\"\n");
    EXPECT_TRUE(textOf(server.receive(request("pw", "status"), 1, 59999).datagrams).contains("Cheater"));
    EXPECT_FALSE(textOf(server.receive(request("pw", "status"), 1, 60000).datagrams).contains("Cheater"));
}
