#include "editors/listwindows.h"
#include "editors/simplelists.h"
#include "editors/tablegrid.h"
#include "tests/editors/editorfixture.h"

#include <QAction>
#include <QHeaderView>
#include <QMenu>
#include <QMenuBar>
#include <QtTest/QTest>

using namespace palisor;
using namespace palisor::test;

namespace {

class ListWindowTest : public EditorTest {
protected:
    void AddAliases()
    {
        AddRows(*data->tblMapAlias, {"MAPNAME", "ALIAS"},
                {{"dm/mohdm6", "Zeta"}, {"obj/obj_team2", "Alpha"}, {"dm/mohdm1", "Mid"}});
    }
};

QPoint CellCentre(QTableView& grid, int row, int column)
{
    return grid.visualRect(grid.model()->index(row, column)).center();
}

void RightClick(QTableView& grid, const QPoint& at)
{
    QTest::mousePress(grid.viewport(), Qt::RightButton, Qt::NoModifier, at);
    QTest::mouseRelease(grid.viewport(), Qt::RightButton, Qt::NoModifier, at);
}

void ClickTitle(QTableView& grid, int column)
{
    QHeaderView* titles = grid.horizontalHeader();
    const QPoint at(titles->sectionViewportPosition(column) + titles->sectionSize(column) / 2, titles->height() / 2);
    QTest::mouseClick(titles->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

bool PopupOpened(QMenu* popup)
{
    const bool open = popup->isVisible();
    popup->hide();
    return open;
}

TEST_F(ListWindowTest, EmptyListCountsNothingOffersNothingAndStoresNothingOnClose)
{
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] {
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Immune Players: 0 total"));
        EXPECT_FALSE(window.miAction->menuAction()->isEnabled());
        EXPECT_TRUE(window.PopupPlayerData->isEmpty());
        RightClick(*window.PlayerDataGrid, QPoint(40, 60));
        EXPECT_FALSE(PopupOpened(window.PopupPlayerData));
    });
    EXPECT_EQ(StoredRows("IMMUNE"), 0);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(ListWindowTest, CaptionCountsDistinctFilledFirstColumnValues)
{
    AddRows(*data->tblIllegal, {"NAME"}, {{"admin"}, {"admin"}, {QVariant()}, {"cheat"}});
    TformIllegalNames window(*data);
    WhileOpen(window, [&] {
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Illegal Names: 2 total"));
        EXPECT_EQ(window.PlayerDataGrid->model()->rowCount(), 4);
        ASSERT_EQ(window.PopupPlayerData->actions().size(), 1);
        EXPECT_EQ(window.PopupPlayerData->actions()[0], window.actRemove);
        EXPECT_EQ(window.actRemove->text(), QStringLiteral("&Remove Name"));
    });
}

TEST_F(ListWindowTest, RemovingTheLastEntryAsksThenEmptiesCaptionAndMenus)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] {
        dialogs.answerConfirm(false);
        window.PopupPlayerData->actions()[0]->trigger();
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Are you sure you want to remove Bob?"));
        EXPECT_EQ(data->tblImmune->rowCount(), 1);

        dialogs.answerConfirm(true);
        window.actRemove->trigger();
        EXPECT_EQ(data->tblImmune->rowCount(), 0);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Immune Players: 0 total"));
        EXPECT_FALSE(window.miAction->menuAction()->isEnabled());
        EXPECT_TRUE(window.PopupPlayerData->isEmpty());
    });
    EXPECT_EQ(StoredRows("IMMUNE"), 0);
}

TEST_F(ListWindowTest, MapAliasRemoveQuestionQuotesTheAlias)
{
    AddAliases();
    TformMapAlias window(*data);
    WhileOpen(window, [&] {
        dialogs.answerConfirm(false);
        window.actRemove->trigger();
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Are you sure you want to remove Zeta?"));
    });
}

TEST_F(ListWindowTest, TitleClickSortOutlivesTheWindow)
{
    AddAliases();
    {
        TformMapAlias window(*data);
        WhileOpen(window, [&] {
            data->tblMapAlias->setCurrentRow(2);   // Mid
            ClickTitle(*window.AliasDataGrid, 1);
            EXPECT_EQ(Column(*data->tblMapAlias, "ALIAS"), (QStringList{"Alpha", "Mid", "Zeta"}));
            EXPECT_EQ(data->tblMapAlias->text("ALIAS"), QStringLiteral("Mid"));
            EXPECT_EQ(window.AliasDataGrid->currentIndex().row(), 1);
        });
    }
    TformMapAlias again(*data);
    WhileOpen(again, [&] {
        EXPECT_EQ(data->tblMapAlias->sortColumn(), QStringLiteral("ALIAS"));
        const QAbstractItemModel* shown = again.AliasDataGrid->model();
        EXPECT_EQ(shown->index(0, 1).data().toString(), QStringLiteral("Alpha"));
        EXPECT_EQ(again.AliasDataGrid->currentIndex().row(), 0);
    });
}

TEST_F(ListWindowTest, RightClickOnARowSelectsItAndOpensThePopupButNotOutsideTheCells)
{
    AddAliases();
    TformMapAlias window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.AliasDataGrid;
        RightClick(grid, CellCentre(grid, 2, 0));
        EXPECT_EQ(data->tblMapAlias->currentRow(), 2);
        EXPECT_TRUE(PopupOpened(window.PopupPlayerData));

        const QPoint below(20, grid.viewport()->height() - 5);
        ASSERT_FALSE(grid.indexAt(below).isValid());
        RightClick(grid, below);
        EXPECT_FALSE(PopupOpened(window.PopupPlayerData));
        EXPECT_EQ(data->tblMapAlias->currentRow(), 2);

        RightClick(grid, CellCentre(grid, 1, 1));
        EXPECT_EQ(data->tblMapAlias->currentRow(), 1);
        EXPECT_TRUE(PopupOpened(window.PopupPlayerData));
    });
}

TEST_F(ListWindowTest, CurrentRowIsSharedBetweenGridAndTable)
{
    AddAliases();
    TformMapAlias window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.AliasDataGrid;
        EXPECT_EQ(data->tblMapAlias->currentRow(), 0);
        data->tblMapAlias->setCurrentRow(2);
        EXPECT_EQ(grid.currentIndex().row(), 2);
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, Qt::NoModifier, CellCentre(grid, 1, 0));
        EXPECT_EQ(data->tblMapAlias->currentRow(), 1);
    });
}

TEST_F(ListWindowTest, TypedRowIsStoredOnLeavingItAndCounted)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.PlayerDataGrid;
        QTest::keyClick(&grid, Qt::Key_Insert);
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Insert);
        EXPECT_EQ(grid.currentIndex().row(), 1);
        TypeIntoCell(grid, "Carol");
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Up);
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Browse);
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Immune Players: 2 total"));
    });
    EXPECT_EQ(StoredRows("IMMUNE"), 2);
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(ListWindowTest, ACommitElsewhereShowsAtOnceButWaitsForTheRowInEditing)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    auto other = db.createDataModule();
    TformImmunePlayers window(*data);

    WhileOpen(window, [&] {
        ASSERT_TRUE(QTest::qWaitFor([&] { return data->Listening(); }, 20000));
        AddRows(*other->tblImmune, {"NAME"}, {{"Alice"}});
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.windowTitle() == QStringLiteral("Immune Players: 2 total"); }, 20000));
        EXPECT_TRUE(Column(*data->tblImmune, "NAME").contains("Alice"));

        TableGrid& grid = *window.PlayerDataGrid;
        QTest::keyClick(&grid, Qt::Key_Insert);
        TypeIntoCell(grid, "Carol");
        AddRows(*other->tblImmune, {"NAME"}, {{"Dave"}});
        QTest::qWait(300);
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Insert) << "the typed row is kept while it is typed";
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Up);
        EXPECT_TRUE(QTest::qWaitFor([&] { return window.windowTitle() == QStringLiteral("Immune Players: 4 total"); }, 20000));
        EXPECT_TRUE(Column(*data->tblImmune, "NAME").contains("Dave"));
    });
    AddRows(*other->tblImmune, {"NAME"}, {{"Eve"}});
    WhileOpen(window, [&] { EXPECT_EQ(window.windowTitle(), QStringLiteral("Immune Players: 5 total")) << "opened again"; });
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(ListWindowTest, MovingDownPastTheLastRowAddsARowThatIsDroppedWhenLeftUntouched)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.PlayerDataGrid;
        QTest::keyClick(&grid, Qt::Key_Down);
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Insert);
        QTest::keyClick(&grid, Qt::Key_Down);   // still the one new row
        EXPECT_EQ(data->tblImmune->rowCount(), 2);
        QTest::keyClick(&grid, Qt::Key_Up);
        EXPECT_EQ(data->tblImmune->rowCount(), 1);
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Browse);
        EXPECT_EQ(grid.currentIndex().row(), 0);
    });
    EXPECT_EQ(StoredRows("IMMUNE"), 1);
}

TEST_F(ListWindowTest, EscapeAbandonsTheChangeAndKeepsTheWindowOpen)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.PlayerDataGrid;
        TypeIntoCell(grid, "Zed");
        QTest::keyClick(grid.indexWidget(grid.currentIndex()), Qt::Key_Return);
        QCoreApplication::processEvents();   // the editor hands its text over after the key
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Edit);
        EXPECT_EQ(data->tblImmune->text("NAME"), QStringLiteral("Zed"));
        QTest::keyClick(&grid, Qt::Key_Escape);
        EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Browse);
        EXPECT_EQ(data->tblImmune->text("NAME"), QStringLiteral("Bob"));
        EXPECT_TRUE(window.isVisible());
    });
    EXPECT_EQ(Column(*data->tblImmune, "NAME"), QStringList{"Bob"});
}

TEST_F(ListWindowTest, CtrlDeleteAsksTheGridsQuestionAndLeavesTheCaption)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}, {"Carol"}});
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] {
        TableGrid& grid = *window.PlayerDataGrid;
        dialogs.answerOkCancel(false);
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(dialogs.lastCall().text, QStringLiteral("Delete record?"));
        EXPECT_EQ(data->tblImmune->rowCount(), 2);

        dialogs.answerOkCancel(true);
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        EXPECT_EQ(Column(*data->tblImmune, "NAME"), QStringList{"Carol"});
        EXPECT_EQ(window.windowTitle(), QStringLiteral("Immune Players: 2 total"));
    });
    EXPECT_EQ(StoredRows("IMMUNE"), 1);
}

TEST_F(ListWindowTest, ClosingStoresTheChangeInProgress)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    TformImmunePlayers window(*data);
    WhileOpen(window, [&] { TypeIntoCell(*window.PlayerDataGrid, "Robert"); });
    EXPECT_EQ(data->tblImmune->state(), LiveTable::State::Browse);
    EXPECT_EQ(Column(*data->tblImmune, "NAME"), QStringList{"Robert"});
    EXPECT_EQ(StoredRows("IMMUNE"), 1);
}

TEST_F(ListWindowTest, CellEditorsTakeOnlyWhatTheColumnCanStore)
{
    AddRows(*data->tblImmune, {"NAME"}, {{"Bob"}});
    TformImmunePlayers window(*data);
    const QString latin1 = QString::fromLatin1("\xC9t\xE9 ") + QString(40, QLatin1Char('x'));
    WhileOpen(window, [&] {
        TypeIntoCell(*window.PlayerDataGrid, QStringLiteral("\u20AC") + latin1 + QStringLiteral("\u03A9"));
    });
    EXPECT_EQ(Column(*data->tblImmune, "NAME"), QStringList{latin1.left(40)});
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(ListWindowTest, ClosingDropsANewRowLeftUntouched)
{
    TformIllegalNames empty(*data);
    WhileOpen(empty, [&] { QTest::keyClick(empty.PlayerDataGrid, Qt::Key_Insert); });
    EXPECT_EQ(data->tblIllegal->rowCount(), 0);
    EXPECT_EQ(StoredRows("ILLEGAL"), 0);

    AddRows(*data->tblIllegal, {"NAME"}, {{"admin"}, {"cheat"}});
    TformIllegalNames window(*data);
    WhileOpen(window, [&] { QTest::keyClick(window.PlayerDataGrid, Qt::Key_Insert); });
    EXPECT_EQ(Column(*data->tblIllegal, "NAME"), (QStringList{"admin", "cheat"}));
    EXPECT_EQ(StoredRows("ILLEGAL"), 2);
}

TEST_F(ListWindowTest, OpenerShowsTheWindowAndLeavesNoHookBehind)
{
    AddAliases();
    WhenModalOpens([&](QWidget& shown) {
        auto* window = qobject_cast<TformMapAlias*>(&shown);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->windowTitle(), QStringLiteral("Map Aliases: 3 total"));
        EXPECT_EQ(window->AliasDataGrid->size(), QSize(463, 308));
        EXPECT_TRUE(QStringList({"Courier New", "Liberation Mono"}).contains(window->font().family()))
            << window->font().family().toStdString();
        EXPECT_EQ(window->font().pointSize(), 8);
        const QAbstractItemModel* shownModel = window->AliasDataGrid->model();
        EXPECT_EQ(shownModel->headerData(0, Qt::Horizontal).toString(), QStringLiteral("MAPNAME"));
        EXPECT_EQ(shownModel->headerData(1, Qt::Horizontal).toString(), QStringLiteral("ALIAS"));
        EXPECT_FALSE(window->AliasDataGrid->horizontalHeader()->sectionsMovable());
    });
    ShowMapAliases(*data, nullptr);
    // The window is gone; storing a row must not call back into it.
    AddRows(*data->tblMapAlias, {"MAPNAME", "ALIAS"}, {{"lib/mp_ship_lib", "Ship"}});
    EXPECT_EQ(StoredRows("MAPALIAS"), 4);
}

}  // namespace
