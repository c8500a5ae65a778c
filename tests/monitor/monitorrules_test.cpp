#include "monitor/monitorrules.h"

#include <gtest/gtest.h>

using namespace palisor;

TEST(StrikeLimit, TwoMinutesOfPollsRoundedHalfToEven)
{
    EXPECT_EQ(StrikeLimit(30), 4);
    EXPECT_EQ(StrikeLimit(45), 3);
    EXPECT_EQ(StrikeLimit(48), 2);
    EXPECT_EQ(StrikeLimit(80), 2);
    EXPECT_EQ(StrikeLimit(90), 1);
    EXPECT_EQ(StrikeLimit(1), 120);
    EXPECT_EQ(StrikeLimit(16), 8);   // 7.5 goes to the even neighbour
    EXPECT_EQ(StrikeLimit(120), 1);
    EXPECT_EQ(StrikeLimit(999), 1);
    EXPECT_THROW(StrikeLimit(0), std::exception);
}

TEST(HighPingStrikes, KickOnTheLimitThenCountAfresh)
{
    HighPingStrikes strikes;
    EXPECT_FALSE(strikes.Check("0310.0.0.1", 300, 250, 3));
    EXPECT_FALSE(strikes.Check("0310.0.0.1", 300, 250, 3));
    EXPECT_TRUE(strikes.Check("0310.0.0.1", 300, 250, 3));
    EXPECT_FALSE(strikes.Check("0310.0.0.1", 300, 250, 3));
}

TEST(HighPingStrikes, PingAtTheMaximumIsAcceptableAndResetsTheCount)
{
    HighPingStrikes strikes;
    EXPECT_FALSE(strikes.Check("01a", 251, 250, 2));
    EXPECT_FALSE(strikes.Check("01a", 250, 250, 2));
    EXPECT_FALSE(strikes.Check("01a", 251, 250, 2));
    EXPECT_TRUE(strikes.Check("01a", 251, 250, 2));
}

TEST(HighPingStrikes, KeysIgnoreLetterCaseAndPlayersCountApart)
{
    HighPingStrikes strikes;
    EXPECT_FALSE(strikes.Check("01host", 900, 100, 2));
    EXPECT_FALSE(strikes.Check("02other", 900, 100, 2));
    EXPECT_TRUE(strikes.Check("01HOST", 900, 100, 2));
    strikes.Clear();
    EXPECT_FALSE(strikes.Check("02other", 900, 100, 2));
    EXPECT_TRUE(strikes.Check("02other", 900, 100, 1));
}

TEST(ErrorClassification, WordsInAnyLetterCase)
{
    EXPECT_TRUE(StopsMonitor("Bad rconpassword.\r\n"));
    EXPECT_TRUE(StopsMonitor("Socket Error # 111\r\nConnection refused"));
    EXPECT_TRUE(StopsMonitor("No rconpassword set on the server."));
    EXPECT_TRUE(StopsMonitor("The port must be 1-65535, not 99999"));
    EXPECT_FALSE(StopsMonitor("Command Timed Out"));
    EXPECT_TRUE(NeedsReconnect("Cannot perform this operation on a Closed Dataset"));
    EXPECT_FALSE(NeedsReconnect("Bad rconpassword."));
}
