#include "core/error.h"
#include "rcon/rcon.h"
#include "udppeer.h"

#include <gtest/gtest.h>

#include <chrono>

using palisor::Error;
using palisor::TRcon;

namespace {

const QByteArray kHeader("\xFF\xFF\xFF\xFF\x01print\n");

class Exchange : public ::testing::Test {
protected:
    Exchange()
    {
        rcon.Host = QStringLiteral("127.0.0.1");
        rcon.Port = peer.port();
        rcon.Password = QStringLiteral("secret");
        rcon.ExchangePause = 100;
    }

    // The message of the error that `call` raises, or "no error".
    template <typename Call>
    QString failureOf(Call call)
    {
        try {
            call();
        } catch (const Error& e) {
            return e.message();
        }
        return QStringLiteral("no error");
    }

    UdpPeer peer;
    TRcon rcon;
};

}  // namespace

TEST_F(Exchange, RequestFramesAreExact)
{
    struct Case {
        const char* password;
        const char* command;
        QByteArray frame;
    };
    const Case cases[] = {
        {"secret", "", QByteArray("\xFF\xFF\xFF\xFF\x02rcon \"secret\" ")},
        {"", "status", QByteArray("\xFF\xFF\xFF\xFF\x02rcon \"\" status")},
        {"my \"pw\"", "say \"hello\"  all \xE9",
         QByteArray("\xFF\xFF\xFF\xFF\x02rcon \"my \"pw\"\" say \"hello\"  all \xE9")},
    };
    for (const Case& c : cases) {
        UdpPeer server;
        rcon.Port = server.port();
        rcon.Password = QString::fromLatin1(c.password);
        server.answer({kHeader});
        EXPECT_EQ(rcon.Command(QString::fromLatin1(c.command)), QStringLiteral("Command Executed\r\n"));
        EXPECT_EQ(server.request(), c.frame);
        EXPECT_FALSE(rcon.Active());
        EXPECT_EQ(rcon.ReceiveTimeout, 5000);
    }
}

TEST_F(Exchange, LineEndsBecomeCrLfAndNulEndsTheReply)
{
    peer.answer({kHeader + QByteArray("first\nsecond\rthird\0lost\n", 24)});
    EXPECT_EQ(rcon.Command(QStringLiteral("say x")), QStringLiteral("first\r\nsecond\r\nthird\r\n"));
}

TEST_F(Exchange, ReplySplitOverThreeDatagramsComesBackWhole)
{
    peer.answer({kHeader + "map: obj/obj_team2\n  0    12   48 Sgt.Pe",
                 kHeader + "pper           50 203.0.113.7:12203      4321 25000\r",
                 kHeader + "\n  3     0  120 Other\n\n"});
    EXPECT_EQ(rcon.Command(QStringLiteral("status")),
              QStringLiteral("map: obj/obj_team2\r\n"
                             "  0    12   48 Sgt.Pepper           50 203.0.113.7:12203      4321 25000\r\n"
                             "  3     0  120 Other\r\n\r\n"));
}

TEST_F(Exchange, DatagramFromAnotherPortIsIgnored)
{
    peer.answer({kHeader + "\"clientban\" is:\"99\" default:\"99\"\n"},
                kHeader + "\"clientban\" is:\"3\" default:\"99\"\n");
    EXPECT_EQ(rcon.QueryVariable(QStringLiteral("clientban")), QStringLiteral("99"));
    EXPECT_EQ(peer.request(), QByteArray("\xFF\xFF\xFF\xFF\x02rcon \"secret\" clientban"));
}

TEST_F(Exchange, UnknownVariableHasAnEmptyValue)
{
    peer.answer({kHeader});
    EXPECT_EQ(rcon.QueryVariable(QStringLiteral("nosuchvar")), QString());
}

TEST_F(Exchange, RefusedPasswordFailsWithTheReplyText)
{
    peer.answer({kHeader + "Bad rconpassword.\n"});
    EXPECT_EQ(failureOf([&] { rcon.Command(QStringLiteral("status")); }), QStringLiteral("Bad rconpassword.\r\n"));

    UdpPeer other;
    rcon.Port = other.port();
    other.answer({kHeader + "bad RCONpassword.\r\n"});
    EXPECT_EQ(failureOf([&] { rcon.QueryVariable(QStringLiteral("clientban")); }),
              QStringLiteral("bad RCONpassword.\r\n"));

    UdpPeer unset;
    rcon.Port = unset.port();
    unset.answer({kHeader + "No rconpassword set on the server.\n"});
    EXPECT_EQ(failureOf([&] { rcon.Command(QStringLiteral("status")); }),
              QStringLiteral("No rconpassword set on the server."));

    // The words in a player's name are no refusal.
    UdpPeer named;
    rcon.Port = named.port();
    named.answer({kHeader + "map: dm/mohdm1\n  0     0   50 Bad rconpassword.    0 192.0.2.1:12203 0 0\n"});
    EXPECT_EQ(failureOf([&] { rcon.Command(QStringLiteral("status")); }), QStringLiteral("no error"));
}

TEST_F(Exchange, FloodFromTheServerEndsWithThePause)
{
    // Every read clears a buffer this large, so the flood stays ahead of the client.
    rcon.BufferSize = 8 << 20;
    peer.flood(kHeader + QByteArray(200, 'x') + "\n", 2000);
    const auto started = std::chrono::steady_clock::now();
    rcon.Command(QStringLiteral("status"));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(1000));
}

TEST_F(Exchange, SilentServerTimesOut)
{
    peer.answer({});
    rcon.ReceiveTimeout = 150;
    EXPECT_EQ(failureOf([&] { rcon.Exchange(QStringLiteral("rcon \"secret\" say hi")); }),
              QStringLiteral("Command Timed Out"));
    EXPECT_FALSE(rcon.Active());
    EXPECT_EQ(rcon.TimeoutCount(), 0);
}

TEST_F(Exchange, SocketFailuresAreReportedAsSocketErrors)
{
    rcon.Port = closedPort();
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { rcon.Command(QStringLiteral("status")); }),
              QStringLiteral("Socket Error # 111\r\nConnection refused"));
    // The pause still follows a failure after sending.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(100));
    EXPECT_FALSE(rcon.Active());

    rcon.Host.clear();
    EXPECT_TRUE(failureOf([&] { rcon.Command(QStringLiteral("status")); }).startsWith(QStringLiteral("Socket Error # ")));
    EXPECT_FALSE(rcon.Active());

    // A port out of range is named as such.
    rcon.Host = QStringLiteral("127.0.0.1");
    rcon.Port = 99999;
    EXPECT_EQ(failureOf([&] { rcon.Command(QStringLiteral("status")); }),
              QStringLiteral("The port must be 1-65535, not 99999"));

    rcon.Port = peer.port();
    rcon.BufferSize = 16;
    peer.answer({kHeader + "more than sixteen bytes\n"});
    EXPECT_TRUE(failureOf([&] { rcon.Command(QStringLiteral("status")); }).startsWith(QStringLiteral("Socket Error # 90\r\n")));
    EXPECT_FALSE(rcon.Active());
}
