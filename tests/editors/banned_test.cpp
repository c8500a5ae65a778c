#include "core/timing.h"
#include "store/banfiles.h"
#include "editors/formbannedplayers.h"
#include "editors/tablegrid.h"
#include "tests/editors/editorfixture.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QProgressDialog>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>

using namespace palisor;
using namespace palisor::test;

namespace {

const QString Placeholder = QStringLiteral("IMPORT-03072024");

class BannedTest : public EditorTest {
protected:
    BannedTest()
    {
        setClockFunction([] { return QDateTime(QDate(2024, 3, 7), QTime(23, 59)); });
    }

    QString File(const QString& name, const QByteArray& bytes)
    {
        const QString path = files.filePath(name);
        WriteBytes(path, bytes);
        return path;
    }

    // Runs one of the window's menu commands with the open dialog answered.
    void Import(QAction* item, const QString& path)
    {
        dialogs.answerOpenFile(path);
        item->trigger();
    }

    QStringList Bans(const LiveTable& table)
    {
        QStringList bans;
        for (int r = 0; r < table.rowCount(); ++r)
            bans << table.value(r, "NAME").toString() + "|" + table.value(r, "ADDRESS").toString();
        return bans;
    }

    QTemporaryDir files;
};

TEST_F(BannedTest, NamesImportSkipsBlankAndRemarkLines)
{
    const QString path = File("names.txt", "Bob // cheater\r\n\r\n   \r\n// Carol was forgiven\r\n");
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        Import(window.miImportNames, path);
        const auto open = dialogs.callsOf(ScriptedDialogs::Kind::OpenFile);
        ASSERT_EQ(open.size(), 1u);
        EXPECT_EQ(open[0].request.title, QStringLiteral("Open"));
        EXPECT_TRUE(open[0].request.filter.contains("*.txt"));
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Banned Players: 1 total"));
    });
    EXPECT_EQ(Bans(*data->tblBanned), QStringList{"Bob|" + Placeholder});
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(BannedTest, OneTabLineBansWhatEachKindTakesFromIt)
{
    const QString path = File("one.txt", "Bob\t10.0.0.7 // camping\r\n");
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        Import(window.miImportNames, path);
        Import(window.miImportIPs, path);
        Import(window.miImportNamesIPs, path);
    });
    QStringList bans = Bans(*data->tblBanned);
    bans.sort();
    EXPECT_EQ(bans, (QStringList{"Bob|10.0.0.7", "Bob|" + Placeholder, Placeholder + "|10.0.0.7"}));
}

TEST_F(BannedTest, AHalfEmptyLineStillBans)
{
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        Import(window.miImportNamesIPs, File("kind3.txt", "Bob\n"));
        Import(window.miImportIPs, File("kind2.txt", "Carol\t\n"));
        // An empty field is an empty text however the line leaves it empty,
        // so importing the same ban again adds nothing.
        Import(window.miImportNamesIPs, File("again.txt", "Bob\t\n"));
    });
    EXPECT_EQ(Bans(*data->tblBanned), (QStringList{"Bob|", Placeholder + "|"}));
}

TEST_F(BannedTest, LongNameIsCutAndApostropheBecomesBackquote)
{
    const QByteArray name = "O'Neil_" + QByteArray(50, 'x');
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] { Import(window.miImportNamesIPs, File("long.txt", name + "\t10.0.0.1\r\n")); });
    ASSERT_EQ(data->tblBanned->rowCount(), 1);
    EXPECT_EQ(data->tblBanned->value(0, "NAME").toString(), QString::fromLatin1(name.left(40)).replace('\'', '`'));
}

TEST_F(BannedTest, ExportWritesTheTableOrderWithCrLfAfterEveryLine)
{
    AddRows(*data->tblBanned, {"NAME", "ADDRESS"},
            {{"Carol", "10.0.0.1"}, {"Alice", "10.0.0.9"}, {"Bob", QVariant()}});
    const QString byName = files.filePath("byname.txt");
    const QString byAddress = files.filePath("byaddress.txt");
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        data->tblBanned->setCurrentRow(1);
        dialogs.answerSaveFile(byName);
        window.miExportNamesIPs->trigger();
        const auto save = dialogs.callsOf(ScriptedDialogs::Kind::SaveFile);
        ASSERT_EQ(save.size(), 1u);
        EXPECT_EQ(save[0].request.title, QStringLiteral("Save As"));
        EXPECT_EQ(save[0].request.initialName, QStringLiteral("Banned.txt"));
        EXPECT_EQ(data->tblBanned->currentRow(), 1);

        QHeaderView* titles = window.PlayerDataGrid->horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(titles->sectionViewportPosition(1) + 5, titles->height() / 2));
        dialogs.answerSaveFile(byAddress);
        window.miExportIPs->trigger();
        EXPECT_EQ(dialogs.lastCall().request.initialName, QStringLiteral("BannedIPs.txt"));
    });
    EXPECT_EQ(ReadBytes(byName), QByteArray("Alice\t10.0.0.9\r\nBob\t\r\nCarol\t10.0.0.1\r\n"));
    // NULL sorts first.
    EXPECT_EQ(ReadBytes(byAddress), QByteArray("\r\n10.0.0.1\r\n10.0.0.9\r\n"));
}

TEST_F(BannedTest, ExportOfAnEmptyListOnlySaysSo)
{
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] { window.miExportNames->trigger(); });
    EXPECT_EQ(dialogs.texts(ScriptedDialogs::Kind::Information),
              QStringList{"There are no banned players to Export."});
    EXPECT_TRUE(dialogs.callsOf(ScriptedDialogs::Kind::SaveFile).empty());
}

TEST_F(BannedTest, HighByteNamesSurviveExportAndImportByteForByte)
{
    QByteArray name;
    for (int b = 0xA0; b <= 0xC7; ++b)
        name.append(char(b));
    AddRows(*data->tblBanned, {"NAME", "ADDRESS"},
            {{QString::fromLatin1(name), "10.0.0.5"}, {QString::fromLatin1("\xFF\xFE~ x"), "10.0.0.6"}});
    const QStringList before = Bans(*data->tblBanned);
    const QString path = files.filePath("Banned.txt");
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        dialogs.answerSaveFile(path);
        window.miExportNamesIPs->trigger();
        for (int i = 0; i < 2; ++i) {
            dialogs.answerConfirm(true);
            window.actRemove->trigger();
        }
        Import(window.miImportNamesIPs, path);
    });
    EXPECT_EQ(ReadBytes(path), name + "\t10.0.0.5\r\n\xFF\xFE~ x\t10.0.0.6\r\n");
    EXPECT_EQ(Bans(*data->tblBanned), before);
}

TEST_F(BannedTest, FindPlayerIgnoresCaseAndFindNextStopsOnTheLastHit)
{
    AddRows(*data->tblBanned, {"NAME", "ADDRESS"},
            {{"Bob", "1.1.1.1"}, {"Carol", "1.1.1.2"}, {"BOB", "1.1.1.3"}, {"Abe", "1.1.1.4"}});
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        EXPECT_EQ(window.miFindPlayer->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
        EXPECT_EQ(window.miFindNext->shortcut(), QKeySequence(Qt::Key_F3));
        data->tblBanned->last();
        dialogs.answerInput("bo");
        window.miFindPlayer->trigger();
        EXPECT_EQ(dialogs.lastCall().caption, QStringLiteral("Find Player"));
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Enter the player's name:"));
        EXPECT_EQ(window.SearchText, QStringLiteral("bo"));
        EXPECT_EQ(data->tblBanned->text("NAME"), QStringLiteral("BOB"));
        EXPECT_EQ(window.PlayerDataGrid->currentIndex().row(), data->tblBanned->currentRow());

        window.miFindNext->trigger();
        EXPECT_EQ(data->tblBanned->text("NAME"), QStringLiteral("Bob"));
        const int lastHit = data->tblBanned->currentRow();
        window.miFindNext->trigger();
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Player bo Not Found"));
        EXPECT_EQ(data->tblBanned->currentRow(), lastHit);
    });

    // A new window starts with an empty search text, so Find Next asks.
    TformBannedPlayers again(*data);
    WhileOpen(again, [&] {
        dialogs.cancelInput();
        again.miFindNext->trigger();
        EXPECT_EQ(dialogs.lastCall().kind, ScriptedDialogs::Kind::InputQuery);
        EXPECT_EQ(dialogs.lastCall().value, QString());
    });
}

TEST_F(BannedTest, LongImportShowsProgressAndCancellingKeepsWhatWasAdded)
{
    QByteArray content;
    for (int i = 0; i < 5000; ++i)
        content += "player" + QByteArray::number(i) + "\t10.1." + QByteArray::number(i / 250) + "." +
                   QByteArray::number(i % 250) + "\r\n";
    const QString path = File("many.txt", content);
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        AddRows(*data->tblBanned, {"NAME", "ADDRESS"}, {{"zz-first", "1.2.3.4"}});
        bool progressShown = false;
        QTimer::singleShot(0, &window, [&] {
            if (auto* progress = window.findChild<QProgressDialog*>()) {
                progressShown = true;
                progress->cancel();
            }
        });
        Import(window.miImportNamesIPs, path);
        EXPECT_TRUE(progressShown);
        EXPECT_EQ(window.findChild<QProgressDialog*>(), nullptr);
        const int kept = data->tblBanned->rowCount();
        EXPECT_GT(kept, 1);
        EXPECT_LT(kept, 5001);
        EXPECT_EQ(StoredRows("BANNED"), kept);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Banned Players: %1 total").arg(kept));
    });
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(BannedTest, ImportLeavesTheSameListAsBanningLineByLine)
{
    QByteArray content;
    for (int i = 0; i < 240; ++i) {
        const QByteArray n = QByteArray::number(i % 70);
        content += "name" + n + "'s\t10.0." + n + ".1 // line " + QByteArray::number(i) + "\r\n";
        if (i % 7 == 0)
            content += "\r\n  \t  \n";
        if (i % 11 == 0)
            content += "only" + n + "\n";
    }
    const QString path = File("mixed.txt", content);
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] { Import(window.miImportNamesIPs, path); });

    TempDatabase other;
    auto reference = other.createDataModule();
    const int nameLength = reference->tblBanned->declaredLength("NAME");
    const int addressLength = reference->tblBanned->declaredLength("ADDRESS");
    for (const QString& line : SplitImportLines(content)) {
        const ImportFields fields = ParseImportLine(line, NamesAndAddressesKind, nameLength, addressLength);
        if (!fields.name.isEmpty() || !fields.address.isEmpty())
            reference->BanPlayer(fields.name, fields.address, Penalty{EventSource::Import, "mixed.txt", ""});
    }
    // Alike but for the moment of each ban.
    const auto withoutTimes = [](QList<QVariantList> rows) {
        for (QVariantList& row : rows)
            row.removeAt(2);
        return rows;
    };
    EXPECT_EQ(withoutTimes(Rows(*data->tblBanned)), withoutTimes(Rows(*reference->tblBanned)));
    EXPECT_EQ(StoredRows("BANNED"), reference->tblBanned->rowCount());
}

TEST_F(BannedTest, FailingLineKeepsTheBansBeforeIt)
{
    RefuseValue("BANNED", "NAME", "Mallory");
    const QString path = File("refused.txt", "Alice\t1.1.1.1\r\nMallory\t2.2.2.2\r\nZed\t3.3.3.3\r\n");
    TformBannedPlayers window(*data);
    WhileOpen(window, [&] {
        Import(window.miImportNamesIPs, path);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Banned Players: 0 total"));
        Import(window.miImportNamesIPs, files.filePath("missing.txt"));
    });
    ASSERT_EQ(errors.size(), 2);
    EXPECT_TRUE(errors[0].contains("Mallory is refused")) << errors[0].toStdString();
    EXPECT_TRUE(errors[1].contains("missing.txt")) << errors[1].toStdString();
    EXPECT_EQ(Bans(*data->tblBanned), QStringList{"Alice|1.1.1.1"});
    QSqlQuery stored(data->database());
    ASSERT_TRUE(stored.exec("SELECT COUNT(*) FROM BANNED") && stored.next());
    EXPECT_EQ(stored.value(0).toInt(), 1);
}

}  // namespace
