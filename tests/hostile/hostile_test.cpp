// The main window's monitor against servers that misbehave: garbage,
// enormous and hostile names, spoofed datagrams, replies spread over many
// datagrams, and a server that answers only every other command. The
// monitor must keep running, show what went wrong in the status bar, and
// kick or ban exactly the players its rules name.
#include "core/timing.h"
#include "window/formpalisor.h"
#include "core/errorhandler.h"
#include "rcon/rcon.h"
#include "store/datapalisor.h"
#include "tests/hostile/hostilepeer.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/dialogs/scripteddialogs.h"
#include "tests/support/monitor/settle.h"
#include "tests/support/sim/simprocess.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSet>

#include <atomic>
#include <ostream>

// Failures show texts byte by byte as the server sent them.
QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"';
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != u'"' && c != u'\\')
            *out << static_cast<char>(c.unicode());
        else
            *out << "\\x" << std::hex << static_cast<unsigned>(c.unicode()) << std::dec;
    }
    *out << '"';
}
QT_END_NAMESPACE

using namespace palisor;
using palisor::test::HostilePeer;
using palisor::test::ReplyHeader;

namespace {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "hostile_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// A desktop with a notification area, so the status bar holds only what
// the monitor puts there.
class TrayWindow : public TformPalisor {
public:
    using TformPalisor::TformPalisor;

protected:
    bool TrayAvailable() const override { return true; }
};

QJsonObject Player(int slot, const QString& name, const QString& address, int ping = 50)
{
    return {{"slot", slot}, {"name", name}, {"address", address}, {"port", 12203}, {"ping", ping}};
}

QString Scenario(const QJsonArray& players, QJsonObject extra = {})
{
    extra.insert("players", players);
    QJsonObject variables = extra.value("variables").toObject();
    variables.insert("sv_maxclients", 64);
    extra.insert("variables", variables);
    return QString::fromUtf8(QJsonDocument(extra).toJson(QJsonDocument::Compact));
}

// The slots the server was told to kick, in order.
QStringList Kicks(const QStringList& commands)
{
    QStringList kicked;
    for (const QString& command : commands)
        if (command.startsWith(QLatin1String("clientkick ")))
            kicked << command.mid(11);
    return kicked;
}

class HostileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        QFile::remove(TformPalisor::IniPath());
        setPauseFunction([](int) {});
        // Long enough for the later datagrams of a split reply to arrive.
        rcon.ExchangePause = 100;
    }

    void TearDown() override
    {
        window.reset();
        data.reset();
        setPauseFunction({});
        QFile::remove(TformPalisor::IniPath());
    }

    // Opens the database and the window on a server at the port; a poll
    // runs on every timer tick.
    void Open(quint16 port, const QString& maxPing = QStringLiteral("250"))
    {
        data = db.createDataModule();
        data->tblSettings->edit();
        data->tblSettings->setValue("PORT", QString::number(port));
        data->tblSettings->setValue("PASSWORD", QStringLiteral("secret"));
        data->tblSettings->setValue("SCANTIME", QStringLiteral("1"));
        data->tblSettings->setValue("MAXPING", maxPing);
        data->tblSettings->post();
        window = std::make_unique<TrayWindow>(*data, rcon, nullptr);
    }

    void AddRow(LiveTable* table, std::initializer_list<std::pair<const char*, QString>> values)
    {
        table->insert();
        for (const auto& [column, value] : values)
            table->setValue(QLatin1String(column), value);
        table->post();
    }

    // The Start button (its first poll) and then timer ticks, each a poll;
    // the status bar is read after every one.
    void Monitor(int polls)
    {
        // The lists were filled behind the engine's back, so it is told as a
        // list window tells it.
        window->Monitor().post([](MonitorEngine& engine) { engine.ListsChanged(); });
        window->btnStart->click();
        test::Settle(window->Monitor());
        statuses << window->StatusText();
        for (int i = 1; i < polls; ++i) {
            test::Tick(window->Monitor());
            statuses << window->StatusText();
        }
    }

    // What the engine's attachment committed.
    QStringList Column(LiveTable* table, const char* column)
    {
        data->Resynchronise({table});
        QStringList values;
        for (int row = 0; row < table->rowCount(); ++row)
            values << table->value(row, QLatin1String(column)).toString();
        return values;
    }

    test::SimProcess sim;
    test::TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
    TRcon rcon;
    ScriptedDialogs dialogs;
    std::unique_ptr<TformPalisor> window;
    QStringList statuses;
};

TEST_F(HostileTest, GarbageRepliesKickAndBanNobody)
{
    QRandomGenerator random(1944);
    int requests = 0;
    HostilePeer peer([&](const QByteArray&, HostilePeer&) -> QList<QByteArray> {
        QByteArray junk(random.bounded(1, 1400), '\0');
        for (char& c : junk)
            c = static_cast<char>(random.bounded(256));
        // Lines that look almost like a status reply: columns of digits,
        // blanks and colons, with random bytes in the names.
        QByteArray lines;
        for (int i = random.bounded(12); i > 0; --i)
            lines += QByteArray::number(random.bounded(100)).rightJustified(3, ' ') + "    0 "
                     + QByteArray::number(random.bounded(1000)).rightJustified(4, ' ') + ' '
                     + junk.mid(random.bounded(junk.size()), 20) + " 0 " + QByteArray::number(random.bounded(256))
                     + ".0.0.1:" + QByteArray::number(random.bounded(65536)) + " 0 0\n";
        switch (requests++ % 5) {
        case 0: return {junk};                        // not a console reply at all
        case 1: return {ReplyHeader() + junk};
        case 2: return {ReplyHeader() + lines};
        case 3: return {ReplyHeader() + junk.left(3), junk, ReplyHeader() + lines};
        default: return {ReplyHeader()};
        }
    });
    // A maximum no ping column can exceed, so no rule has a reason to fire.
    Open(peer.port(), QStringLiteral("999"));
    Monitor(12);

    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_GT(peer.commands().size(), 30);
    EXPECT_EQ(Kicks(peer.commands()), QStringList());
    EXPECT_EQ(peer.commands().filter(QStringLiteral("say ")), QStringList());
    EXPECT_EQ(data->CountRows(data->tblBanned), 0);
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(HostileTest, EnormousNamesDoNotShieldTheOtherPlayers)
{
    const QString enormous = QString(300, QLatin1Char('W'));
    const QString huge = QStringLiteral("Spam! ").repeated(330);
    sim.start(Scenario({Player(0, enormous, "192.0.2.1"), Player(1, huge, "192.0.2.2"),
                        Player(2, "Cheater", "192.0.2.66"), Player(3, "Innocent", "192.0.2.3")}));
    Open(sim.port());
    AddRow(data->tblBanned, {{"NAME", "Someone"}, {"ADDRESS", "192.0.2.66"}});
    Monitor(2);

    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_EQ(Kicks(sim.commandTexts()), QStringList({"02"}));
    EXPECT_EQ(statuses.last(), QString());
    // The names are kept as far as the list columns hold them.
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList({enormous.left(40), huge.left(40), "Innocent"}));
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(HostileTest, SixtyFourHostileNamesMeetExactlyTheRules)
{
    // Names with the 8-bit control range, quotes, SQL and console syntax.
    const QStringList pieces = {QStringLiteral("\u0080"), QStringLiteral("\u009f"), QStringLiteral("\u007f"),
                                QStringLiteral("'"),      QStringLiteral("\""),     QStringLiteral("`"),
                                QStringLiteral("\\"),     QStringLiteral(";"),      QStringLiteral("//"),
                                QStringLiteral("%s"),     QStringLiteral("$servername$"),
                                QStringLiteral("'; DELETE FROM BANNED; --"), QStringLiteral("\u00a0"),
                                QStringLiteral("\u0085")};
    QJsonArray players;
    QStringList names;
    for (int slot = 0; slot < 64; ++slot) {
        QString name = pieces[slot % pieces.size()] + QStringLiteral("P%1").arg(slot) + pieces[(slot * 5) % pieces.size()];
        if (slot == 17)
            name = QStringLiteral("\u0081Evil\"Twin';\u0082");
        if (slot == 33)
            name = QStringLiteral("x\u0080ADMIN\u0081x");
        if (slot == 50)
            name = QStringLiteral("\u0085Ghost\"Admin\u009f");
        // A refusal's words are a name like any other, and so is the
        // player's own address.
        if (slot == 3)
            name = QStringLiteral("Bad rconpassword.");
        if (slot == 4)
            name = QStringLiteral("bad RCONPASSWORD. x");
        if (slot == 8)
            name = QStringLiteral("192.0.0.9 admin");
        names << name;
        players.append(Player(slot, name, QStringLiteral("192.0.%1.%2").arg(slot / 10).arg(slot + 1)));
    }
    sim.start(Scenario(players));
    Open(sim.port());
    // A name ban, an illegal word, and an immune player whose name holds that word.
    AddRow(data->tblBanned, {{"NAME", names[17]}, {"ADDRESS", "10.9.9.9"}});
    AddRow(data->tblBanned, {{"NAME", names[4]}, {"ADDRESS", "10.9.9.4"}});
    AddRow(data->tblIllegal, {{"NAME", "admin"}});
    AddRow(data->tblImmune, {{"NAME", names[50]}});
    Monitor(2);

    EXPECT_TRUE(window->MonitorRunning());
    // The banned name and the illegal one are kicked (and gone at the next
    // poll); the immune player passes although his name holds the word.
    EXPECT_EQ(Kicks(sim.commandTexts()), QStringList({"04", "08", "17", "33"}));
    EXPECT_TRUE(sim.commandTexts().contains(QStringLiteral("say Kicking player bad RCONPASSWORD. x for BANNED IP")));
    EXPECT_EQ(statuses.last(), QString());
    const QStringList addresses = Column(data->tblBanned, "ADDRESS");
    EXPECT_EQ(QSet<QString>(addresses.begin(), addresses.end()), QSet<QString>({"192.0.0.5", "192.0.1.18"}));

    QStringList expected;
    for (int slot = 0; slot < 64; ++slot)
        if (slot != 4 && slot != 8 && slot != 17 && slot != 33)
            expected << TDataPalisor::FixQuotes(names[slot]);
    const QStringList recorded = Column(data->tblPlayers, "NAME");
    EXPECT_EQ(QSet<QString>(recorded.begin(), recorded.end()), QSet<QString>(expected.begin(), expected.end()));
    EXPECT_EQ(data->CountRows(data->tblBanned), 2);
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(HostileTest, ControlCharactersInsideNamesStayInTheirLine)
{
    const QByteArray status =
        "map: dm/mohdm1\n"
        "num score ping name            lastmsg address               qport rate\n"
        "--- ----- ---- --------------- ------- --------------------- ----- -----\n"
        "  0     0   50 Tab\tand\x1b[31mRed       0 192.0.2.1:12203        0 25000\n"
        "  1     0   50 \x01\x02\x03\x1f           0 192.0.2.2:12203        0 25000\n"
        "  2     0   50 Bell\x07\x08" "Back         0 192.0.2.66:12203       0 25000\n"
        "  3     0   50 Last\x7f                 0 192.0.2.4:12203        0 25000\n"
        "\n";
    HostilePeer peer([&](const QByteArray& request, HostilePeer&) -> QList<QByteArray> {
        const QString command = HostilePeer::commandOf(request);
        if (command == QLatin1String("status"))
            return {ReplyHeader() + status};
        if (command == QLatin1String("clientban"))
            return {ReplyHeader() + "\"clientban\" is:\"99\" default:\"99\"\n"};
        return {ReplyHeader()};
    });
    Open(peer.port());
    AddRow(data->tblBanned, {{"NAME", "Someone"}, {"ADDRESS", "192.0.2.66"}});
    Monitor(1);

    EXPECT_EQ(Kicks(peer.commands()), QStringList({"02"}));
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList({"Tab\tand\x1b[31mRed", "Last\x7f"}));
    EXPECT_EQ(Column(data->tblPlayers, "CLIENTID"), QStringList({"00", "03"}));
    EXPECT_TRUE(dialogs.calls().empty());
}

TEST_F(HostileTest, SpoofedFloodDuringEveryExchangeIsIgnored)
{
    sim.start(Scenario({Player(1, "Alpha", "192.0.2.1"), Player(2, "Bravo", "192.0.2.2"),
                        Player(3, "Charlie", "192.0.2.3")}));
    const quint16 server = sim.port();
    // Forged answers that would ban Bravo and kick a banned stranger.
    const QByteArray forgedStatus = ReplyHeader() +
        "map: dm/mohdm1\nnum score ping name\n--- ----- ----\n"
        "  5     0   50 Cheater              0 192.0.2.66:12203       0 25000\n"
        "  2     0  900 Bravo                0 192.0.2.2:12203        0 25000\n\n";
    const QByteArray forgedBan = ReplyHeader() + "\"clientban\" is:\"2\" default:\"99\"\n";
    std::atomic<int> spoofed{0};
    HostilePeer proxy([&](const QByteArray& request, HostilePeer& peer) {
        peer.spoof(forgedStatus, 100);
        peer.spoof(forgedBan, 100);
        spoofed += 200;
        return HostilePeer::relay(request, server);
    });
    Open(proxy.port(), QStringLiteral("100"));
    AddRow(data->tblBanned, {{"NAME", "Someone"}, {"ADDRESS", "192.0.2.66"}});
    Monitor(3);

    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_GT(spoofed, 2000);
    EXPECT_EQ(Kicks(sim.commandTexts()), QStringList());
    EXPECT_EQ(sim.commandTexts().filter(QStringLiteral("set clientban")), QStringList());
    EXPECT_EQ(Column(data->tblPlayers, "NAME"), QStringList({"Alpha", "Bravo", "Charlie"}));
    EXPECT_EQ(Column(data->tblBanned, "NAME"), QStringList({"Someone"}));
    EXPECT_EQ(statuses, QStringList({"", "", ""}));
}

// Sixty-four players whose status reply spans many datagrams, or one
// datagram of tens of kilobytes; the last line holds the banned player.
class LargeReplyTest : public HostileTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(LargeReplyTest, PlayersBeyondTheFirstDatagramMeetTheRules)
{
    const auto [split, nameLength] = GetParam();
    QJsonArray players;
    QStringList names;
    for (int slot = 0; slot < 64; ++slot) {
        names << QStringLiteral("Player%1-").arg(slot, 2, 10, QLatin1Char('0')).leftJustified(nameLength, QLatin1Char('x'));
        players.append(Player(slot, names.last(), slot == 63 ? "192.0.2.66" : QStringLiteral("192.0.3.%1").arg(slot)));
    }
    sim.start(Scenario(players, {{"split", split}}));
    Open(sim.port());
    AddRow(data->tblBanned, {{"NAME", "Someone"}, {"ADDRESS", "192.0.2.66"}});
    Monitor(2);

    EXPECT_EQ(Kicks(sim.commandTexts()), QStringList({"63"}));
    EXPECT_EQ(data->CountRows(data->tblPlayers), 63);
    EXPECT_EQ(Column(data->tblPlayers, "NAME").last(), names[62].left(40));
    EXPECT_EQ(statuses.last(), QString());
}

INSTANTIATE_TEST_SUITE_P(Replies, LargeReplyTest,
                         ::testing::Values(std::make_pair(120, 20),      // about fifty datagrams
                                           std::make_pair(0, 900)));     // one datagram of 60 KB

TEST_F(HostileTest, AServerAnsweringEveryOtherCommandKicksNobody)
{
    // "status" and the clientban read that follows it are never both
    // answered, so no poll gets as far as the players.
    sim.start(Scenario({Player(1, "Innocent", "192.0.2.1"), Player(2, "Cheater", "192.0.2.66")},
                       {{"answer_every", 2}}));
    Open(sim.port());
    AddRow(data->tblBanned, {{"NAME", "Someone"}, {"ADDRESS", "192.0.2.66"}});
    Monitor(4);

    EXPECT_TRUE(window->MonitorRunning());
    EXPECT_EQ(statuses, QStringList(4, QStringLiteral("Command Timed Out")));
    EXPECT_EQ(Kicks(sim.commandTexts()), QStringList());
    EXPECT_EQ(sim.commandTexts().filter(QStringLiteral("set clientban")), QStringList());
    EXPECT_EQ(Column(data->tblBanned, "NAME"), QStringList({"Someone"}));
    EXPECT_TRUE(dialogs.calls().empty());
}

}  // namespace
