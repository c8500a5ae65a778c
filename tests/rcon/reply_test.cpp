#include "rcon/reply.h"

#include <gtest/gtest.h>

using namespace palisor::rcon;

namespace {

const QByteArray kHeader("\xFF\xFF\xFF\xFF\x01print\n");

QString text(const char* s) { return QString::fromLatin1(s); }

}  // namespace

TEST(ReplyLines, EveryLineEndBecomesCrLf)
{
    EXPECT_EQ(rejoinLines(text("a\nb\n")), text("a\r\nb\r\n"));
    EXPECT_EQ(rejoinLines(text("a\rb")), text("a\r\nb\r\n"));
    EXPECT_EQ(rejoinLines(text("a\r\nb\r\n")), text("a\r\nb\r\n"));
    // LF then CR is two line ends, not one.
    EXPECT_EQ(rejoinLines(text("a\n\rb")), text("a\r\n\r\nb\r\n"));
    // Empty lines inside are kept (the status reply ends with one).
    EXPECT_EQ(rejoinLines(text("a\n\nb\n\n")), text("a\r\n\r\nb\r\n\r\n"));
    EXPECT_EQ(rejoinLines(QString()), QString());
    EXPECT_EQ(rejoinLines(QString::fromLatin1("a\nb\0c\nd\n", 8)), text("a\r\nb\r\n"));
}

TEST(ReplyAssembly, HeaderLineIsDroppedAndEmptyRepliesReadCommandExecuted)
{
    EXPECT_EQ(assembleReply({kHeader}), text("Command Executed"));
    EXPECT_EQ(assembleReply({QByteArray("\xFF\xFF\xFF\xFF\x01print", 10)}), text("Command Executed"));
    EXPECT_EQ(assembleReply({QByteArray("no header\nline\n")}), text("Command Executed"));
    EXPECT_EQ(assembleReply({}), text("Command Executed"));
    EXPECT_EQ(assembleReply({kHeader + "console: hi"}), text("console: hi\r\n"));
    // The four FF bytes may stand anywhere in the first line, which may end in CR LF.
    EXPECT_EQ(assembleReply({QByteArray("xy\xFF\xFF\xFF\xFFz\r\none\rtwo")}), text("one\r\ntwo\r\n"));
    // A NUL ends the datagram's text, and a NUL before the marker hides the header.
    EXPECT_EQ(assembleReply({kHeader + QByteArray("one\n\0two\n", 9)}), text("one\r\n"));
    EXPECT_EQ(assembleReply({QByteArray("\0\xFF\xFF\xFF\xFF\nx\n", 8)}), text("Command Executed"));
}

TEST(ReplyAssembly, DatagramsOfOneReplyJoinBeforeLinesAreSplit)
{
    const QByteArray latin1Name("Sgt.P\xE9pper");
    EXPECT_EQ(assembleReply({kHeader + "map: dm/mohdm6\n  0  12  48 " + latin1Name.left(4),
                             kHeader + latin1Name.mid(4) + " 50 203.0.113.7:12203\r",
                             kHeader + "\nlast\n\n"}),
              text("map: dm/mohdm6\r\n  0  12  48 ") + QString::fromLatin1(latin1Name)
                  + text(" 50 203.0.113.7:12203\r\nlast\r\n\r\n"));
    // A datagram without the header is not part of the reply.
    EXPECT_EQ(assembleReply({kHeader + "one\n", QByteArray("stray\n"), kHeader + "two\n"}),
              text("one\r\ntwo\r\n"));
    // A joined reply is capped; what follows the cap is dropped.
    const QByteArray line = QByteArray(98, 'x') + "\r\n";
    const QString capped = assembleReply(QList<QByteArray>(30, kHeader + line.repeated(700)));
    EXPECT_EQ(capped.size(), MaxReplyBytes + 2);
    EXPECT_TRUE(capped.startsWith(QString::fromLatin1(line)));
}

TEST(ReplyRefusal, OnlyTheFirstLineRefusesInAnyLetterCase)
{
    EXPECT_EQ(refusalOf(text("Bad rconpassword.\r\n")), text("Bad rconpassword.\r\n"));
    EXPECT_EQ(refusalOf(text("bAD RCONpassword.")), text("bAD RCONpassword."));
    EXPECT_EQ(refusalOf(text("No rconpassword set on the server.\r\n")), text("No rconpassword set on the server."));
    EXPECT_EQ(refusalOf(text("NO RCONPASSWORD SET ON THE SERVER.\r\nmore\r\n")),
              text("No rconpassword set on the server."));
    // Player names and kick announcements hold the words on later lines or
    // inside a line; neither is a refusal.
    for (const char* reply : {"map: dm/mohdm1\r\n  0 0 50 Bad rconpassword.   0 192.0.2.1:1 0 0\r\n",
                              "console: Kicking player Bad rconpassword. for BANNED IP\r\n",
                              "bad RCONPASSWORD. x\r\n", "xBad rconpassword.\r\n", "\r\nBad rconpassword.\r\n",
                              "Bad rconpassword\r\n", "Bad  rconpassword.", "No rconpassword set.\r\n",
                              "Command Executed\r\n", ""})
        EXPECT_EQ(refusalOf(text(reply)), QString()) << reply;
}

TEST(ReplyVariable, ValueIsCutBetweenTheMarkers)
{
    EXPECT_EQ(cutVariableValue(text("\"sv_hostname\" is:\"My \"Best\" Server\" default:\"noname\"\r\n")),
              text("My \"Best\" Server"));
    EXPECT_EQ(cutVariableValue(text("\"clientban\" is:\"\" default:\"99\"\r\n")), QString());
    EXPECT_EQ(cutVariableValue(text("Command Executed\r\n")), QString());
    EXPECT_EQ(cutVariableValue(QString()), QString());
    // Only the front marker: a negative length gives nothing.
    EXPECT_EQ(cutVariableValue(text("\"x\" is:\"value\r\n")), QString());
    // Back marker before the front marker: nothing.
    EXPECT_EQ(cutVariableValue(text("\" default:\"a\" is:\"b\"")), QString());
    // Only the back marker: the text from the fourth character up to it.
    EXPECT_EQ(cutVariableValue(text("abcdefg\" default:\"1\"")), text("defg"));
    EXPECT_EQ(cutVariableValue(text("ab\" default:\"1\"")), QString());
    // The first back marker counts, even one inside the value.
    EXPECT_EQ(cutVariableValue(text("is:\"a\" default:b\" default:\"c\"")), text("a"));
}
