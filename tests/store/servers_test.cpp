// Several game servers in one database: each data module works for one, the
// lists are everybody's, and the server list refuses what it cannot keep.
#include "core/error.h"
#include "store/monitorclaim.h"
#include "store/servers.h"
#include "tests/store/storetest.h"

#include <atomic>
#include <barrier>
#include <thread>
#include <vector>

using namespace palisor;
using palisor::test::StoreTest;

namespace {

class ServersTest : public StoreTest {
protected:
    // The error of a change, or "(done)".
    template <typename Change>
    static QString refusal(Change change)
    {
        try {
            change();
        } catch (const Error& e) {
            return e.message();
        }
        return QStringLiteral("(done)");
    }
    QStringList names()
    {
        QStringList list;
        for (const ServerEntry& server : ReadServers(data->database()))
            list << server.name + QLatin1Char('=') + server.addressPort();
        return list;
    }
    QSqlDatabase connection() { return data->database(); }
};

TEST_F(ServersTest, BadNamesAddressesAndPortsAreRefusedAndNothingChanges)
{
    QSqlDatabase db = connection();
    const int second = AddServer(db, "  Objective ", "game.example-host.net", "12204");
    EXPECT_EQ(names(), QStringList({"127.0.0.1:12203=127.0.0.1:12203", "Objective=game.example-host.net:12204"}));

    EXPECT_EQ(refusal([&] { AddServer(db, "objective", "10.0.0.9", "12203"); }), "There is already a server named Objective.");
    EXPECT_EQ(refusal([&] { AddServer(db, "   ", "10.0.0.9", "12203"); }), "A server needs a name.");
    EXPECT_EQ(refusal([&] { AddServer(db, QString(41, 'x'), "10.0.0.9", "12203"); }),
              QStringLiteral("The server name %1 is longer than 40 characters.").arg(QString(41, 'x')));
    EXPECT_EQ(refusal([&] { AddServer(db, "TDM", "10.0.0.256", "12203"); }),
              "address=10.0.0.256 is refused: give the server's IPv4 address or host name");
    EXPECT_EQ(refusal([&] { AddServer(db, "TDM", "bad host", "12203"); }),
              "address=bad host is refused: give the server's IPv4 address or host name");
    EXPECT_EQ(refusal([&] { AddServer(db, "TDM", "10.0.0.9", "99999"); }),
              "port=99999 is refused: a UDP port is 1 to 65535");
    EXPECT_EQ(refusal([&] { AddServer(db, "TDM", "GAME.example-host.net", "12204"); }),
              "The server Objective is GAME.example-host.net:12204 already.");
    EXPECT_EQ(refusal([&] { RenameServer(db, second, "127.0.0.1:12203"); }),
              "There is already a server named 127.0.0.1:12203.");
    EXPECT_EQ(names().size(), 2);

    // The only server stays; one being monitored stays until its monitor stops.
    RenameServer(db, second, "Practice");
    ASSERT_EQ(refusal([&] { RemoveServer(db, 1); }), "(done)");
    EXPECT_EQ(refusal([&] { RemoveServer(db, second); }), "Practice is the only server; add another before removing it.");
    const int third = AddServer(db, "FFA", "10.0.0.9", "12205");
    TakeClaim(db, third, {"palisor-monitor", "gamehost", 917}, 30, "10.0.0.9:12205", QDateTime::currentDateTimeUtc(),
              [](const QString&) {});
    const QString monitored = refusal([&] { RemoveServer(db, third); });
    EXPECT_TRUE(monitored.startsWith("The server 10.0.0.9:12205 is monitored by palisor-monitor on gamehost (process 917)")
                && monitored.endsWith(" Stop it before removing FFA."))
        << monitored.toStdString();
    EXPECT_EQ(names(), QStringList({"Practice=game.example-host.net:12204", "FFA=10.0.0.9:12205"}));
}

TEST_F(ServersTest, EachModuleKeepsItsServersSettingsAndPlayersAndSharesTheLists)
{
    QSqlDatabase db = connection();
    const int second = AddServer(db, "Objective", "10.0.0.9", "12204");
    auto other = this->db.createDataModule();
    other->SetServer(second);
    EXPECT_EQ(data->ServerId(), 1);
    EXPECT_EQ(other->tblSettings->text("ADDRESS"), "10.0.0.9");
    EXPECT_EQ(data->tblSettings->text("ADDRESS"), "127.0.0.1");

    data->RecordPlayers({{"01", "Alpha", "203.0.113.1", "1", "40"}}, true);
    other->RecordPlayers({{"01", "Bravo", "203.0.113.2", "1", "40"}, {"02", "Alpha", "203.0.113.1", "1", "50"}}, true);
    other->RecordPlayers({{"02", "Alpha", "203.0.113.1", "1", "50"}}, true);
    data->Resynchronise({data->tblPlayers, data->tblRecent});
    EXPECT_EQ(column(data->tblPlayers, "NAME"), QStringList({"Alpha"}));
    EXPECT_EQ(column(other->tblPlayers, "NAME"), QStringList({"Alpha"}));
    EXPECT_EQ(other->CountRows(other->tblPlayers), 1);
    EXPECT_EQ(scalar("SELECT LIST(NAME || '@' || LASTSERVER, ' ') FROM RECENT").toString(), "Alpha@2 Bravo@2");

    // A ban one server's monitor stores is in the list every server reads;
    // the penalty log says on which server it was given.
    const Penalty why{QStringLiteral("monitor"), QStringLiteral("banned name"), QStringLiteral("02")};
    other->BanPlayer("Alpha", "203.0.113.1", why);
    data->BanPlayer("Typed", "203.0.113.9", Penalty{QStringLiteral("admin"), QString(), QString()});
    EXPECT_TRUE(data->IsBanned("Alpha", "198.51.100.1"));
    EXPECT_EQ(scalar("SELECT LIST(NAME || '@' || COALESCE(SERVER_ID, 0), ' ') FROM EVENTS").toString(), "Alpha@2 Typed@0");

    // Removing a server takes its players and settings; its log stays.
    other.reset();
    RemoveServer(db, second);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM PLAYERS").toInt(), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM SETTINGS").toInt(), 1);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM EVENTS WHERE SERVER_ID = 2").toInt(), 1);
}

// The game's default name is on several servers at once, and their monitors
// record him in the same moment: each waits on the others' commits, and
// every poll is recorded all the same.
TEST_F(ServersTest, MonitorsRecordingOnePlayerAtOnceAllSucceed)
{
    std::vector<int> servers{data->ServerId()};
    for (int n = 2; n <= 6; ++n) {
        QSqlDatabase db = connection();
        servers.push_back(AddServer(db, QStringLiteral("S%1").arg(n), "10.0.0.9", QString::number(12200 + n)));
    }
    std::atomic<int> failed{0};
    std::barrier together(std::ptrdiff_t(servers.size()));
    std::vector<std::thread> monitors;
    for (const int server : servers)
        monitors.emplace_back([&failed, &together, server, make = data->Maker()] {
            auto module = make();
            module->SetServer(server);
            module->OpenAttachment();
            for (int poll = 0; poll < 10; ++poll) {
                together.arrive_and_wait();
                try {
                    module->RecordPlayers({{"01", "UnnamedSoldier", "203.0.113.1", "1", "40"}}, true);
                } catch (const std::exception& e) {
                    ++failed;
                    ADD_FAILURE() << e.what();
                }
            }
            module->DisconnectDatabase();
        });
    for (std::thread& monitor : monitors)
        monitor.join();
    EXPECT_EQ(failed, 0);
    data->Resynchronise({});
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM PLAYERS").toInt(), int(servers.size()));
}

}  // namespace
