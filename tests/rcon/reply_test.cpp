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
}

TEST(ReplyPassword, RefusalIsRecognisedInAnyLetterCase)
{
    EXPECT_TRUE(isBadPassword(text("Bad rconpassword.\r\n")));
    EXPECT_TRUE(isBadPassword(text("bAD RCONpassword.")));
    EXPECT_TRUE(isBadPassword(text("line\r\nxBAD RCONPASSWORD.y\r\n")));
    EXPECT_FALSE(isBadPassword(text("Bad rconpassword\r\n")));
    EXPECT_FALSE(isBadPassword(text("No rconpassword set on the server.\r\n")));
    EXPECT_FALSE(isBadPassword(text("Bad  rconpassword.")));
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
