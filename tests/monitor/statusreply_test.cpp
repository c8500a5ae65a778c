#include "monitor/statusreply.h"
#include "monitor/textrules.h"

#include <gtest/gtest.h>

using namespace palisor;

namespace {

// Lines laid out as the game prints them: slot, score, ping, name padded to
// 16, last message time, address:port padded to 22, qport, rate.
const QString kPepper = QStringLiteral("  0    12   48 Sgt.Pepper           50 203.0.113.7:12203      4321 25000");
const QString kConnecting = QStringLiteral("  3     0 CNCT UnnamedSoldier     1200 198.51.100.20:49152     777  5000");

}  // namespace

TEST(CutPlayerLine, ReadsEveryColumnOfAnOrdinaryLine)
{
    const PlayerRow row = CutPlayerLine(kPepper);
    EXPECT_EQ(row, (PlayerRow{"00", "Sgt.Pepper", "203.0.113.7", "12203", "048"}));
}

TEST(CutPlayerLine, PingWithoutDigitsReadsAsZero)
{
    const PlayerRow row = CutPlayerLine(kConnecting);
    EXPECT_EQ(row.ping, "000");
    EXPECT_EQ(row.clientId, "03");
    EXPECT_EQ(row.name, "UnnamedSoldier");
    EXPECT_EQ(row.address, "198.51.100.20");
    EXPECT_EQ(row.port, "49152");
}

TEST(CutPlayerLine, KeepsBlanksAndHighBytesInsideNamesAndLongClientNumbers)
{
    const QString name = QString::fromLatin1("Big \xA0" "Bad\xFF" " Wolf");
    const QString line = QStringLiteral("123     0  999 ") + name + QStringLiteral("   0 10.0.0.1:27960    1 5000");
    const PlayerRow row = CutPlayerLine(line);
    EXPECT_EQ(row.clientId, "123");
    EXPECT_EQ(row.name, name);
    EXPECT_EQ(row.ping, "999");
    EXPECT_EQ(row.address, "10.0.0.1");
    EXPECT_EQ(row.port, "27960");
}

TEST(CutPlayerLine, NameHoldingThePlayersOwnAddressIsKeptWhole)
{
    EXPECT_EQ(CutPlayerLine(QStringLiteral("  1     0   50 203.0.113.9 admin      0 203.0.113.9:12203   1 1")),
              (PlayerRow{"01", "203.0.113.9 admin", "203.0.113.9", "12203", "050"}));
    EXPECT_EQ(CutPlayerLine(QStringLiteral("  2     0   50 Bob 203.0.113.8 admin  0 203.0.113.8:12203   1 1")),
              (PlayerRow{"02", "Bob 203.0.113.8 admin", "203.0.113.8", "12203", "050"}));
}

TEST(CutPlayerLine, PingTakesTheLastThreeOfItsFourColumns)
{
    const PlayerRow row = CutPlayerLine(QStringLiteral("  1     0 1234 Lagger               0 10.0.0.2:1 1 1"));
    EXPECT_EQ(row.ping, "234");
}

TEST(CutPlayerLine, AddressIsAtMostFifteenCharactersBeforeTheLastColon)
{
    const PlayerRow row = CutPlayerLine(QStringLiteral("  2     0   20 Name                 0 x123.123.123.123:5 1 1"));
    EXPECT_EQ(row.address, "123.123.123.123");
    EXPECT_EQ(row.port, "5");
}

TEST(CutPlayerLine, LineWithoutColonUsesItsLastWord)
{
    const PlayerRow row = CutPlayerLine(QStringLiteral("  5    -2  999 Bot                  0 bot 0 16384"));
    EXPECT_EQ(row.address, "16384");
    EXPECT_EQ(row.port, "");
}

TEST(CutPlayerLine, PortIsEmptyWhenNoBlankFollowsIt)
{
    const PlayerRow row = CutPlayerLine(QStringLiteral("  4     0   30 Edge                 0 10.0.0.4:2000"));
    EXPECT_EQ(row.address, "10.0.0.4");
    EXPECT_EQ(row.port, "");
    EXPECT_EQ(row.name, "Edge");
}

TEST(CutPlayerLine, AnyTextGivesARow)
{
    for (const char* text : {"", "1", ":", " :", "::::", "abc:def ghi", "  7     0   20 x", "               :"}) {
        const PlayerRow row = CutPlayerLine(QLatin1String(text));
        EXPECT_GE(row.clientId.size(), 2) << text;
        EXPECT_EQ(row.ping.size(), 3) << text;
        EXPECT_LE(row.address.size(), 15) << text;
    }
}

TEST(PlanStatusReply, LineCountsDecideWhatHappensToThePlayers)
{
    EXPECT_FALSE(PlanStatusReply({}).clearPlayers);
    for (int n = 1; n <= 4; ++n) {
        const StatusPlan plan = PlanStatusReply(QStringList(n, QStringLiteral("x")));
        EXPECT_TRUE(plan.clearPlayers) << n;
        EXPECT_TRUE(plan.playerLines.isEmpty()) << n;
    }
    EXPECT_EQ(PlanStatusReply({"h0", "h1", "h2", "L3", ""}).playerLines, QStringList{"L3"});
    EXPECT_EQ(PlanStatusReply({"h0", "h1", "h2", "L3", "L4", "last"}).playerLines, (QStringList{"L3", "L4"}));
}

TEST(SplitLines, EveryLineEndCountsOnceAndTheLastOpensNoLine)
{
    EXPECT_TRUE(SplitLines(QString()).isEmpty());
    EXPECT_EQ(SplitLines("a"), QStringList{"a"});
    EXPECT_EQ(SplitLines("a\r\n"), QStringList{"a"});
    EXPECT_EQ(SplitLines("a\r\n\r\n"), (QStringList{"a", ""}));
    EXPECT_EQ(SplitLines("a\rb\nc\r\nd"), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("\n\n"), (QStringList{"", ""}));
}

TEST(TextRules, TrimControlsKeepsHighBytes)
{
    EXPECT_EQ(TrimControls(QString::fromLatin1("\t \xA0name\x85 \x01")), QString::fromLatin1("\xA0name\x85"));
    EXPECT_EQ(TrimControls("   "), "");
}

TEST(TextRules, ToIntegerRejectsABoxWithoutANumber)
{
    EXPECT_EQ(ToInteger("12203"), 12203);
    EXPECT_THROW(ToInteger(""), std::exception);
    EXPECT_THROW(ToInteger("12a"), std::exception);
}
