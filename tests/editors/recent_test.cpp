#include "editors/formactionresponse.h"
#include "editors/formrecentplayers.h"
#include "editors/listwindows.h"
#include "editors/tablegrid.h"
#include "tests/editors/editorfixture.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QtTest/QTest>

using namespace palisor;
using namespace palisor::test;

namespace {

class RecentTest : public EditorTest {
protected:
    void AddRecent(const QList<QVariantList>& rows)
    {
        QList<QVariantList> stamped;
        QDateTime seen = QDateTime::currentDateTime().addDays(-1);
        for (QVariantList row : rows) {
            row << seen;
            seen = seen.addSecs(60);
            stamped << row;
        }
        AddRows(*data->tblRecent, {"NAME", "ADDRESS", "LASTSEEN"}, stamped);
    }

    // The viewer's caption and lines, sorted (the database picks their order).
    void ExpectViewer(QWidget& shown, const QString& caption, QStringList lines)
    {
        auto* viewer = qobject_cast<TformActionResponse*>(&shown);
        ASSERT_NE(viewer, nullptr);
        EXPECT_EQ(viewer->windowTitle(), caption);
        QStringList got = viewer->moMessage->toPlainText().split('\n', Qt::SkipEmptyParts);
        for (QString& line : got)
            line.remove('\r');
        got.sort();
        lines.sort();
        EXPECT_EQ(got, lines);
    }
};

TEST_F(RecentTest, OpensOnTheLastRowAndKeepsTheThirdColumnWidth)
{
    AddRecent({{"Bob", "10.0.0.7"}, {"Carol", "10.0.0.8"}, {"Abe", "10.0.0.9"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.PlayerDataGrid;
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Recent Players: 3 total"));
        EXPECT_EQ(data->tblRecent->text("NAME"), QStringLiteral("Abe"));
        EXPECT_EQ(grid.currentIndex().row(), 2);
        EXPECT_EQ(grid.columnWidth(2), 163);

        QHeaderView* titles = grid.horizontalHeader();
        QTest::mouseClick(titles->viewport(), Qt::LeftButton, Qt::NoModifier,
                          QPoint(titles->sectionViewportPosition(0) + 5, titles->height() / 2));
        EXPECT_EQ(Column(*data->tblRecent, "NAME"), (QStringList{"Abe", "Bob", "Carol"}));
        EXPECT_EQ(grid.columnWidth(2), 163);

        grid.setColumnWidth(2, 40);
        data->tblRecent->refresh();
        EXPECT_EQ(grid.columnWidth(2), 163);
        grid.setColumnWidth(2, 40);
        data->RecordPlayer("03", "Dave", "10.0.0.10", "12203", "050");
        EXPECT_EQ(grid.columnWidth(2), 163);
    });
}

TEST_F(RecentTest, GridIsReadOnlyWithWholeRowsSelected)
{
    AddRecent({{"Bob", "10.0.0.7"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.PlayerDataGrid;
        EXPECT_EQ(grid.selectionBehavior(), QAbstractItemView::SelectRows);
        QTest::keyClicks(&grid, "Zed");
        QTest::keyClick(&grid, Qt::Key_Insert);
        QTest::keyClick(&grid, Qt::Key_Down);
        EXPECT_EQ(grid.indexWidget(grid.currentIndex()), nullptr);
        EXPECT_EQ(data->tblRecent->state(), LiveTable::State::Browse);
        EXPECT_EQ(data->tblRecent->rowCount(), 1);
    });
    EXPECT_EQ(Column(*data->tblRecent, "NAME"), QStringList{"Bob"});
}

TEST_F(RecentTest, EmptyListOffersNoActions)
{
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Recent Players: 0 total"));
        EXPECT_FALSE(window.miAction->menuAction()->isEnabled());
        EXPECT_TRUE(window.PopupPlayerData->isEmpty());
    });
}

TEST_F(RecentTest, PopupMirrorsTheFourActionsInOrder)
{
    AddRecent({{"Bob", "10.0.0.7"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        QStringList captions;
        for (QAction* item : window.PopupPlayerData->actions())
            captions << item->text();
        EXPECT_EQ(captions, (QStringList{"&Ban Player", "&Remove Player", "Find Matches by &IP",
                                         "Find Matches by &Name"}));
        EXPECT_EQ(window.PopupPlayerData->actions(), window.miAction->actions());
    });
}

TEST_F(RecentTest, FindMatchesByIPListsEveryNameOfTheAddress)
{
    AddRecent({{"Bob", "10.0.0.7"}, {"Rob", "10.0.0.7"}, {"Carol", "10.0.0.8"}, {"Bobby", "10.0.0.7"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        data->tblRecent->setCurrentRow(1);
        WhenModalOpens([&](QWidget& shown) {
            ExpectViewer(shown, "Results for ADDRESS matches", {"Bob", "Rob", "Bobby"});
        });
        window.actMatchIP->trigger();
        EXPECT_EQ(data->tblRecent->text("NAME"), QStringLiteral("Rob"));
    });
}

TEST_F(RecentTest, FindMatchesByNameListsTheAddressOfEveryRowOfTheName)
{
    AddRecent({{"Bob", "10.0.0.7"}, {"Carol", "10.0.0.8"}, {"Bob", "10.0.0.9"}, {"Bob", "10.0.0.7"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        data->tblRecent->first();
        WhenModalOpens([&](QWidget& shown) {
            ExpectViewer(shown, "Results for NAME matches", {"10.0.0.7", "10.0.0.9", "10.0.0.7"});
        });
        window.actMatchName->trigger();
    });
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(RecentTest, BanAsksThenBansWithoutTouchingTheRecentList)
{
    AddRecent({{"O'Neil", "10.0.0.7"}, {"Carol", "10.0.0.8"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        data->tblRecent->first();
        dialogs.answerConfirm(false);
        window.actBan->trigger();
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Are you sure you want to ban O'Neil?"));
        EXPECT_EQ(StoredRows("BANNED"), 0);

        dialogs.answerConfirm(true);
        window.actBan->trigger();
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Recent Players: 2 total"));
        EXPECT_EQ(data->tblRecent->rowCount(), 2);
        EXPECT_EQ(data->tblRecent->currentRow(), 0);
    });
    EXPECT_EQ(Column(*data->tblBanned, "NAME"), QStringList{"O`Neil"});
    EXPECT_EQ(Column(*data->tblBanned, "ADDRESS"), QStringList{"10.0.0.7"});
    EXPECT_EQ(test::RecordedEvents(*data), QStringList{"BAN||O`Neil|10.0.0.7|Recent Players list|admin"});
}

TEST_F(RecentTest, RemoveAsksWithTheName)
{
    AddRecent({{"Bob", "10.0.0.7"}, {"Carol", "10.0.0.8"}});
    TformRecentPlayers window(*data);
    WhileOpen(window, [&] {
        dialogs.answerConfirm(true);
        window.actRemove->trigger();
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Are you sure you want to remove Carol?"));
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Recent Players: 1 total"));
    });
    EXPECT_EQ(StoredRows("RECENT"), 1);
}

TEST_F(RecentTest, RefreshAfterTheWindowHasGoneReachesNoWindow)
{
    AddRecent({{"Bob", "10.0.0.7"}});
    WhenModalOpens([&](QWidget& shown) { EXPECT_NE(qobject_cast<TformRecentPlayers*>(&shown), nullptr); });
    ShowRecentPlayers(*data, nullptr);
    data->RecordPlayer("01", "Carol", "10.0.0.8", "12203", "040");
    data->tblRecent->refresh();
    EXPECT_EQ(data->tblRecent->rowCount(), 2);
}

}  // namespace
