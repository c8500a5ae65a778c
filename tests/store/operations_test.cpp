#include "core/error.h"
#include "store/outage.h"
#include "store/ruleindexes.h"
#include "store/sqltext.h"
#include "tests/store/storetest.h"
#include "tests/support/dialogs/scripteddialogs.h"

#include <QRandomGenerator>

using namespace palisor;
using palisor::test::StoreTest;

namespace {

using OperationsTest = StoreTest;
using Kind = ScriptedDialogs::Kind;

// What a monitor keeps while its database server is gone: bounded, the
// oldest giving way, and its bans caught as the list's look-ups catch them.
TEST(KeptRecords, TheOldestGiveWayAndKeptBansCatchByAddressOrName)
{
    KeptRecords kept;
    kept.keep(KeptBan{"O'Neil", "10.0.0.3 ", Penalty{}});
    for (int i = 0; i < KeptRecords::Capacity; ++i)
        kept.keep(ServerSample{QDateTime::currentDateTimeUtc().addSecs(i), i, 24, "obj_team1", {}, {}});
    EXPECT_EQ(int(kept.records().size()), KeptRecords::Capacity);
    EXPECT_EQ(kept.takeDropped(), 1);
    EXPECT_EQ(kept.takeDropped(), 0);
    EXPECT_EQ(std::get<ServerSample>(kept.records().front()).playerCount, 0);
    EXPECT_FALSE(kept.banned("O'Neil", "10.0.0.3")) << "the ban gave way first";

    kept.keep(KeptBan{"O'Neil", "10.0.0.3 ", Penalty{}});
    EXPECT_TRUE(kept.banned("o`neil", "192.0.2.1"));
    EXPECT_TRUE(kept.banned("Someone", "10.0.0.3"));
    EXPECT_FALSE(kept.banned("", ""));
    EXPECT_FALSE(kept.banned("O'Neill", "10.0.0.30"));
}

TEST_F(OperationsTest, RecordPlayerStoresQuotedNamesWithABackquote)
{
    data->RecordPlayer("03", "O'Neil", "10.0.0.3", "27001", "045");
    EXPECT_EQ(column(data->tblPlayers, "NAME"), QStringList({"O`Neil"}));
    EXPECT_EQ(data->tblPlayers->text("PING"), "045");
    EXPECT_EQ(column(data->tblRecent, "NAME"), QStringList({"O`Neil"}));
    data->BanPlayer("O'Neil", "10.0.0.3");
    EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({"O`Neil"}));
    EXPECT_EQ(TDataPalisor::FixQuotes("it's 'quoted'"), "it`s `quoted`");
}

TEST_F(OperationsTest, HighByteNamesSurviveEveryTable)
{
    QString name = QStringLiteral("\xff\xe9 ");
    for (int b = 0x80; b < 0x90; ++b)
        name += QChar(b);
    data->RecordPlayer("01", name, "1.2.3.4", "1", "001");
    data->BanPlayer(name, "1.2.3.4");
    for (LiveTable* table : {data->tblPlayers, data->tblRecent, data->tblBanned}) {
        table->refresh();
        EXPECT_EQ(table->text("NAME"), name) << table->tableName().toStdString();
    }
}

TEST_F(OperationsTest, OverlongFieldsAreCutToTheirColumns)
{
    const QString name = QString(900, 'n');
    data->RecordPlayer("123456789012", name, "192.168.100.100:27001", QString(20, '9'), "0999999");
    EXPECT_EQ(data->tblPlayers->text("NAME"), name.left(40));
    EXPECT_EQ(data->tblPlayers->text("CLIENTID"), "123456789");
    EXPECT_EQ(data->tblPlayers->text("PING"), "09999");
    EXPECT_EQ(data->tblRecent->text("ADDRESS"), "192.168.100.100:");
    data->RecordPlayer("01", name, "192.168.100.100:27001", "1", "1");
    EXPECT_EQ(data->tblRecent->rowCount(), 1);
    data->BanPlayer(name, "192.168.100.100:27001");
    EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({name.left(40)}));
}

TEST_F(OperationsTest, RecordingAgainMovesTheRecentRowInsteadOfAddingOne)
{
    data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    data->RecordPlayer("02", "Bob", "2.2.2.2", "1", "010");
    data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    EXPECT_EQ(column(data->tblRecent, "NAME"), QStringList({"Bob", "Amy"}));
    EXPECT_EQ(column(data->tblPlayers, "CLIENTID"), QStringList({"01", "01", "02"}));
    data->tblRecent->refresh();
    EXPECT_EQ(column(data->tblRecent, "NAME"), QStringList({"Bob", "Amy"}));
}

TEST_F(OperationsTest, BlankNameRecordsNothingButStillExpiresOldRecentRows)
{
    data->RecordPlayer("01", "Old", "1.1.1.1", "1", "010");
    data->RecordPlayer("02", "Kept", "2.2.2.2", "1", "010");
    sql("UPDATE RECENT SET LASTSEEN = DATEADD(-31 DAY TO LASTSEEN) WHERE NAME = 'Old'");
    int recentRereads = 0;
    data->tblRecent->setAfterRefresh([&](LiveTable&) { ++recentRereads; });
    data->RecordPlayer("03", " \t ", "3.3.3.3", "1", "010");
    EXPECT_EQ(recentRereads, 1);
    EXPECT_EQ(column(data->tblRecent, "NAME"), QStringList({"Kept"}));
    EXPECT_EQ(data->tblPlayers->rowCount(), 2);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM RECENT").toInt(), 1);
}

TEST_F(OperationsTest, RecentInMemoryMatchesTheDatabaseAfterExpiryInAnyOrder)
{
    for (int i = 0; i < 8; ++i)
        data->RecordPlayer("01", QString("P%1").arg(i), "1.1.1.1", "1", "010");
    sql("UPDATE RECENT SET LASTSEEN = DATEADD(-40 DAY TO LASTSEEN) WHERE NAME IN ('P1', 'P5')");
    data->SortTable("NAME", data->tblRecent);
    data->RecordPlayer("01", "P3", "1.1.1.1", "1", "010");
    const QStringList partial = column(data->tblRecent, "NAME");
    data->tblRecent->refresh();
    EXPECT_EQ(partial, column(data->tblRecent, "NAME"));
    EXPECT_FALSE(partial.contains("P1"));
}

TEST_F(OperationsTest, BanPlayerKeepsOneRowPerNameAndAddress)
{
    data->BanPlayer("Bob", "1.1.1.1");
    data->BanPlayer("Bob", "1.1.1.1");
    data->BanPlayer("Bob", "2.2.2.2");
    data->BanPlayer("", "");
    EXPECT_EQ(column(data->tblBanned, "ADDRESS"), QStringList({"", "1.1.1.1", "2.2.2.2"}));
}

TEST_F(OperationsTest, IsBannedByAddressOrByNameWhichFollowsTheNewAddress)
{
    data->BanPlayer("Cheater", "6.6.6.6");
    data->BanPlayer("Zed", "7.7.7.7");
    EXPECT_TRUE(data->IsBanned("Anyone", "7.7.7.7"));
    EXPECT_EQ(data->tblBanned->text("NAME"), "Zed");
    EXPECT_FALSE(data->IsBanned("Nobody", "8.8.8.8"));
    EXPECT_EQ(data->tblBanned->text("NAME"), "Zed");   // a failed search does not move

    EXPECT_TRUE(data->IsBanned("cheater  ", "9.9.9.9"));
    EXPECT_EQ(data->tblBanned->text("ADDRESS"), "9.9.9.9");
    EXPECT_EQ(scalar("SELECT ADDRESS FROM BANNED WHERE NAME = 'Cheater'").toString(), "9.9.9.9");
    EXPECT_TRUE(data->IsBanned("Other", "9.9.9.9"));
    EXPECT_FALSE(data->IsBanned("Other", "6.6.6.6"));
}

// The program stores O'Brien as O`Brien; the server and the administrator's
// typing keep the apostrophe. Each rule takes the two for one character.
TEST_F(OperationsTest, RulesTakeTheApostropheAndTheBackquoteForOneCharacter)
{
    data->BanPlayer("O'Brien", "1.1.1.1");
    EXPECT_TRUE(data->IsBanned("o'brien", "2.2.2.2"));
    EXPECT_EQ(scalar("SELECT ADDRESS FROM BANNED WHERE NAME = 'O`Brien'").toString(), "2.2.2.2");
    addRow(data->tblBanned, {{"NAME", "D'Arcy"}, {"ADDRESS", "3.3.3.3"}});
    EXPECT_TRUE(data->IsBanned("D`Arcy", "4.4.4.4"));
    EXPECT_FALSE(data->IsBanned("O\"Brien", "5.5.5.5"));

    addRow(data->tblImmune, {{"NAME", "Ra`s Guard"}});
    EXPECT_TRUE(data->IsImmune("ra's"));
    addRow(data->tblIllegal, {{"NAME", "`s b"}});
    EXPECT_TRUE(data->IsIllegalName("Bob's bot"));
}

TEST_F(OperationsTest, ImmuneBeatsBannedAndIllegal)
{
    addRow(data->tblImmune, {{"NAME", "BOBBY"}});
    addRow(data->tblIllegal, {{"NAME", "bob"}});
    data->BanPlayer("Bob", "1.1.1.1");
    EXPECT_TRUE(data->IsImmune("bob"));
    EXPECT_FALSE(data->IsImmune("Bobbyx"));   // the immune name must begin with the player's
    EXPECT_FALSE(data->IsImmune(""));
    EXPECT_FALSE(data->IsBanned("Bob", "1.1.1.1"));
    EXPECT_FALSE(data->IsIllegalName("Bob"));
    EXPECT_TRUE(data->IsIllegalName("Bobbyx"));
}

TEST_F(OperationsTest, EmptyEntriesNeverMatch)
{
    addRow(data->tblBanned, {{"NAME", ""}, {"ADDRESS", ""}});
    addRow(data->tblBanned, {{"NAME", "  "}, {"ADDRESS", "  "}});
    addRow(data->tblIllegal, {{"NAME", "  "}});
    addRow(data->tblImmune, {{"NAME", " "}});
    EXPECT_FALSE(data->IsBanned("", ""));
    EXPECT_FALSE(data->IsBanned(" ", " "));
    EXPECT_FALSE(data->IsIllegalName("two  blanks"));
    EXPECT_FALSE(data->IsImmune(" "));
}

TEST_F(OperationsTest, IllegalNamesMatchAnywhereIgnoringAsciiCase)
{
    addRow(data->tblIllegal, {{"NAME", "nazi"}});
    addRow(data->tblIllegal, {{"NAME", ""}});
    addRow(data->tblIllegal, {{"NAME", "admin"}});
    EXPECT_TRUE(data->IsIllegalName("xAdminx"));
    EXPECT_EQ(data->tblIllegal->currentRow(), 2);
    EXPECT_TRUE(data->IsIllegalName("ADMIN"));
    EXPECT_FALSE(data->IsIllegalName("Player"));
    EXPECT_EQ(data->tblIllegal->currentRow(), 2);   // no match leaves it on the last row
    data->tblIllegal->first();
    EXPECT_FALSE(data->IsIllegalName("Plain"));
    EXPECT_EQ(data->tblIllegal->currentRow(), 2);
}

// The indexes must answer as a row scan from the first row would, through
// the name-ban updates that change BANNED under them: first while BANNED has
// not been read (it must stay so), then with its rows in memory. The scans of
// BANNED run on a second attachment that reads the table whole.
TEST_F(OperationsTest, RuleIndexesAgreeWithRowScans)
{
    QRandomGenerator random(7);
    auto word = [&](int maxLength) {
        QString w;
        const int length = random.bounded(maxLength + 1);
        for (int i = 0; i < length; ++i)
            w += QChar("aAbBc ' "[random.bounded(8)]);
        return w;
    };
    QStringList bannedNames;
    for (int i = 0; i < 40; ++i) {
        addRow(data->tblIllegal, {{"NAME", word(3)}});
        addRow(data->tblImmune, {{"NAME", word(5)}});
        bannedNames << word(4);
        data->BanPlayer(bannedNames.last(), QString("10.0.0.%1").arg(random.bounded(6)));
    }
    auto scan = [](LiveTable* table, const QString& col, auto matches) {
        for (int r = 0; r < table->rowCount(); ++r) {
            const QVariant v = table->value(r, col);
            if (!v.isNull() && matches(v.toString()))
                return r;
        }
        return -1;
    };
    const auto reference = db.createDataModule();
    LiveTable* banned = reference->tblBanned;
    for (const bool inMemory : {false, true}) {
        int lastHit = 0;
        int nameBans = 0;
        if (inMemory)
            data->tblBanned->first();
        for (int i = 0; i < 150; ++i) {
            QSqlDatabase attachment = reference->database();
            sql::commitAndContinue(attachment);
            banned->refresh();
            // Every fourth player uses a banned name in capitals.
            const QString name = i % 4 ? word(6) : bannedNames[random.bounded(40)].toUpper();
            const QString address = QString("10.0.0.%1").arg(random.bounded(9));
            const QString key = RuleIndexes::nameKey(name);
            const int immune = scan(data->tblImmune, "NAME", [&](const QString& v) {
                return !key.isEmpty() && RuleIndexes::nameKey(v).startsWith(key);
            });
            const int byAddress = scan(banned, "ADDRESS", [&](const QString& v) { return v == address; });
            const int byName = scan(banned, "NAME", [&](const QString& v) {
                return !key.isEmpty() && RuleIndexes::nameKey(v) == key;
            });
            const auto lowered = [](const QString& text) {
                return RuleIndexes::lowerAsciiLetters(text).replace('\'', '`');
            };
            const int illegal = scan(data->tblIllegal, "NAME", [&](const QString& v) {
                return !v.trimmed().isEmpty() && lowered(name).contains(lowered(v));
            });

            ASSERT_EQ(data->IsImmune(name), immune >= 0) << name.toStdString();
            if (immune >= 0) {
                ASSERT_EQ(data->tblImmune->currentRow(), immune);
            }
            const bool hit = immune < 0 && (byAddress >= 0 || byName >= 0);
            ASSERT_EQ(data->IsBanned(name, address), hit);
            if (hit) {
                lastHit = byAddress >= 0 ? byAddress : byName;
                nameBans += byAddress < 0;
                sql::commitAndContinue(attachment);
                banned->refresh();
                ASSERT_EQ(banned->value(lastHit, "ADDRESS").toString(), address);
                if (inMemory) {
                    ASSERT_EQ(data->tblBanned->currentRow(), lastHit);
                }
            }
            ASSERT_EQ(data->tblBanned->rowsRead(), inMemory);
            ASSERT_EQ(data->IsIllegalName(name), immune < 0 && illegal >= 0) << name.toStdString();
            if (immune < 0) {
                ASSERT_EQ(data->tblIllegal->currentRow(), illegal >= 0 ? illegal : data->tblIllegal->rowCount() - 1);
            }
        }
        ASSERT_GT(nameBans, 0);
        // Read at last, BANNED is where the checks left it.
        EXPECT_EQ(data->tblBanned->currentRow(), lastHit);
        EXPECT_EQ(column(data->tblBanned, "ADDRESS"), column(banned, "ADDRESS"));
    }
}

TEST_F(OperationsTest, CountRowsCountsDistinctFirstColumnValues)
{
    data->BanPlayer("Twin", "1.1.1.1");
    data->BanPlayer("Twin", "2.2.2.2");
    // No name, or only blanks: not counted.
    addRow(data->tblBanned, {{"ADDRESS", "3.3.3.3"}});
    addRow(data->tblBanned, {{"NAME", ""}, {"ADDRESS", "4.4.4.4"}});
    addRow(data->tblBanned, {{"NAME", "  "}, {"ADDRESS", "5.5.5.5"}});
    EXPECT_EQ(data->CountRows(data->tblBanned), 1);
    addRow(data->tblMessages, {{"SEQ", 1}});
    EXPECT_EQ(data->CountRows(data->tblMessages), 1);
    EXPECT_EQ(data->CountRows(data->tblSettings), 1);

    // Counts kept between changes follow every change to the names, from
    // this attachment or another.
    data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    EXPECT_EQ(data->CountRows(data->tblRecent), 1);
    data->RecordPlayer("01", "Amy", "2.2.2.2", "1", "010");
    data->RecordPlayer("02", "Bob", "2.2.2.2", "1", "010");
    EXPECT_EQ(data->CountRows(data->tblRecent), 2);
    const auto other = db.createDataModule();
    other->tblRecent->first();
    other->tblRecent->deleteCurrent();
    other->BanPlayer("Zed", "4.4.4.4");
    sql("UPDATE RECENT SET NAME = 'Cy' WHERE NAME = 'Bob'");
    EXPECT_EQ(data->CountRows(data->tblRecent), 2);
    EXPECT_EQ(data->CountRows(data->tblBanned), 2);
    sql("DELETE FROM RECENT WHERE NAME = 'Amy'");
    EXPECT_EQ(data->CountRows(data->tblRecent), 1);

    // A ban whose transaction began before another's and committed after it.
    const auto renew = [this] {
        QSqlDatabase connection = data->database();
        connection.commit();
        connection.transaction();
    };
    {
        QSqlDatabase slow = QSqlDatabase::cloneDatabase(data->database(), "slow");
        ASSERT_TRUE(slow.open());
        slow.transaction();
        QSqlQuery(slow).exec("INSERT INTO BANNED (NAME, ADDRESS) VALUES ('Slow', '6.6.6.6')");
        other->BanPlayer("Quick", "7.7.7.7");
        renew();
        EXPECT_EQ(data->CountRows(data->tblBanned), 3);
        ASSERT_TRUE(slow.commit());
        slow.close();
    }
    QSqlDatabase::removeDatabase("slow");
    renew();
    EXPECT_EQ(data->CountRows(data->tblBanned), 4);

    data->tblBanned->close();
    EXPECT_EQ(data->CountRows(data->tblBanned), 0);
}

TEST_F(OperationsTest, SortTableKeepsTheRowAndRefusesUnknownColumns)
{
    data->BanPlayer("Amy", "3.3.3.3");
    data->BanPlayer("Bob", "1.1.1.1");
    data->BanPlayer("Cat", "2.2.2.2");
    data->tblBanned->setCurrentRow(1);
    data->SortTable("ADDRESS", data->tblBanned);
    EXPECT_EQ(column(data->tblBanned, "NAME"), QStringList({"Bob", "Cat", "Amy"}));
    EXPECT_EQ(data->tblBanned->text("NAME"), "Bob");
    EXPECT_THROW(data->SortTable("PING", data->tblBanned), Error);
    EXPECT_EQ(data->tblBanned->sortColumn(), "ADDRESS");
    data->tblBanned->close();
    EXPECT_THROW(data->SortTable("NAME", data->tblBanned), Error);
}

TEST_F(OperationsTest, DeletePlayersEmptiesTheTable)
{
    data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    data->DeletePlayers();
    EXPECT_EQ(data->tblPlayers->rowCount(), 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM PLAYERS").toInt(), 0);
}

TEST_F(OperationsTest, FindPlayerAndFindNext)
{
    int n = 0;
    for (const char* name : {"Bob", "alice", "BOBBY", "carl"})
        data->BanPlayer(name, QString("1.1.1.%1").arg(++n));
    data->SortTable("ADDRESS", data->tblBanned);
    data->tblBanned->setCurrentRow(3);
    ScriptedDialogs dialogs;
    QString search = "x";
    dialogs.answerInput("bo");
    data->FindPlayer(true, search, data->tblBanned);
    EXPECT_EQ(search, "bo");
    EXPECT_EQ(dialogs.lastCall().caption, "Find Player");
    EXPECT_EQ(dialogs.lastCall().text, "Enter the player's name:");
    EXPECT_EQ(dialogs.lastCall().value, "x");
    EXPECT_EQ(data->tblBanned->text("NAME"), "Bob");

    data->FindPlayer(false, search, data->tblBanned);
    EXPECT_EQ(data->tblBanned->text("NAME"), "BOBBY");
    data->FindPlayer(false, search, data->tblBanned);
    EXPECT_EQ(data->tblBanned->text("NAME"), "BOBBY");
    EXPECT_EQ(dialogs.texts(Kind::Information), QStringList({"Player bo Not Found"}));

    dialogs.cancelInput();
    data->FindPlayer(true, search, data->tblBanned);
    EXPECT_EQ(search, "bo");
    EXPECT_EQ(data->tblBanned->text("NAME"), "BOBBY");

    // Find Next without a search text asks for one.
    QString empty = "  ";
    dialogs.answerInput("CA");
    data->FindPlayer(false, empty, data->tblBanned);
    EXPECT_EQ(data->tblBanned->text("NAME"), "carl");

    // The text is used as entered: a trailing blank is part of it, and an
    // empty text begins every name.
    dialogs.answerInput("Bob ");
    data->FindPlayer(true, search, data->tblBanned);
    EXPECT_EQ(data->tblBanned->text("NAME"), "carl");
    EXPECT_EQ(dialogs.texts(Kind::Information).last(), "Player Bob  Not Found");
    dialogs.answerInput("");
    data->FindPlayer(true, search, data->tblBanned);
    EXPECT_EQ(data->tblBanned->currentRow(), 0);
}

TEST_F(OperationsTest, SelectMatchesBindsTheValue)
{
    data->RecordPlayer("01", "Amy", "1.1.1.1", "1", "010");
    data->RecordPlayer("02", "Bob", "1.1.1.1", "1", "010");
    data->RecordPlayer("03", "Cat", "2.2.2.2", "1", "010");
    data->tblRecent->first();
    EXPECT_EQ(data->SelectMatches("NAME", "ADDRESS", data->tblRecent), "Amy\r\nBob\r\n");
    data->RecordPlayer("04", "O'Neil", "3.3.3.3", "1", "010");
    sql("UPDATE RECENT SET NAME = 'O''Neil' WHERE ADDRESS = '3.3.3.3'");
    data->tblRecent->refresh();
    data->tblRecent->last();
    EXPECT_EQ(data->SelectMatches("ADDRESS", "NAME", data->tblRecent), "3.3.3.3\r\n");
    data->tblRecent->close();
    EXPECT_EQ(data->SelectMatches("NAME", "ADDRESS", data->tblRecent), "");
}

TEST_F(OperationsTest, LookupMapAliasIgnoresLetterCase)
{
    addRow(data->tblMapAlias, {{"MAPNAME", "obj_team2"}, {"ALIAS", "The Hunt"}});
    EXPECT_EQ(data->LookupMapAlias("OBJ_Team2"), "The Hunt");
    EXPECT_EQ(data->LookupMapAlias("dm/mohdm1"), "dm/mohdm1");
}

TEST_F(OperationsTest, MessagesAreReadAgainAfterEveryPost)
{
    addRow(data->tblMessages, {{"SEQ", 5}, {"ANNOUNCEMENT", "late"}});
    addRow(data->tblMessages, {{"SEQ", 1}, {"ANNOUNCEMENT", "early"}});
    EXPECT_EQ(column(data->tblMessages, "ANNOUNCEMENT"), QStringList({"early", "late"}));
}

TEST_F(OperationsTest, OperationsOnClosedTablesFailWithTheClosedDatasetText)
{
    data->DisconnectDatabase();
    const std::vector<std::function<void()>> operations = {
        [&] { data->RecordPlayer("01", "A", "1", "1", "1"); }, [&] { data->BanPlayer("A", "1"); },
        [&] { data->IsBanned("A", "1"); }, [&] { data->IsIllegalName("A"); }, [&] { data->DeletePlayers(); },
        [&] { data->LookupMapAlias("m"); },
    };
    for (const auto& operation : operations) {
        try {
            operation();
            ADD_FAILURE() << "no error with the database closed";
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().contains("closed dataset")) << e.message().toStdString();
        }
    }
}

}  // namespace
