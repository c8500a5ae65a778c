#include "core/error.h"
#include "tests/store/storetest.h"

#include <QAbstractItemModelTester>
#include <QDateTime>
#include <QSignalSpy>
#include <QSqlRecord>
#include <QTableView>

using namespace palisor;
using palisor::test::StoreTest;

namespace {

using LiveTableTest = StoreTest;

QString highByteName()
{
    QString name;
    for (int b = 0xA0; b < 0xA0 + 40; ++b)
        name += QChar(b);
    return name;
}

TEST_F(LiveTableTest, PostStoresCommitsAndShowsDatabaseSetValues)
{
    LiveTable* recent = data->tblRecent;
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    addRow(recent, {{"NAME", "Bob"}, {"ADDRESS", "10.0.0.1"}});
    EXPECT_EQ(recent->state(), LiveTable::State::Browse);
    EXPECT_GE(recent->value("LASTSEEN").toDateTime(), before);

    // An announcement typed without a position gets the next one.
    addRow(data->tblMessages, {{"SEQ", 7}, {"ANNOUNCEMENT", "first"}});
    addRow(data->tblMessages, {{"ANNOUNCEMENT", "second"}});
    EXPECT_EQ(column(data->tblMessages, "SEQ"), QStringList({"7", "8"}));

    // Committed: a second connection sees it.
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM RECENT").toInt(), 1);
}

TEST_F(LiveTableTest, HighBytesComeBackExactly)
{
    const QString name = highByteName();
    addRow(data->tblBanned, {{"NAME", name}, {"ADDRESS", "1.2.3.4"}});
    data->tblBanned->refresh();
    EXPECT_EQ(data->tblBanned->text("NAME"), name);
    EXPECT_EQ(data->tblBanned->declaredLength("NAME"), 40);
    EXPECT_EQ(data->tblPlayers->declaredLength("CLIENTID"), 9);
}

TEST_F(LiveTableTest, EditCancelAndInsertCancelLeaveTheStoredRows)
{
    LiveTable* immune = data->tblImmune;
    addRow(immune, {{"NAME", "Alice"}});
    addRow(immune, {{"NAME", "Bob"}});
    immune->first();
    immune->edit();
    immune->setValue("NAME", "Carol");
    EXPECT_TRUE(immune->isModified());
    EXPECT_EQ(immune->text("NAME"), "Carol");
    immune->cancel();
    EXPECT_EQ(immune->text("NAME"), "Alice");

    immune->insert();
    EXPECT_EQ(immune->rowCount(), 3);
    EXPECT_EQ(immune->currentRow(), 2);
    immune->cancel();
    EXPECT_EQ(immune->rowCount(), 2);
    EXPECT_EQ(immune->currentRow(), 0);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM IMMUNE").toInt(), 2);
}

TEST_F(LiveTableTest, LeavingARowStoresItOrDropsAnUntouchedNewRow)
{
    LiveTable* illegal = data->tblIllegal;
    addRow(illegal, {{"NAME", "one"}});
    addRow(illegal, {{"NAME", "two"}});
    illegal->first();
    illegal->setValue("NAME", "uno");   // a grid edit starts Edit by itself
    illegal->next();
    EXPECT_EQ(illegal->state(), LiveTable::State::Browse);
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM ILLEGAL WHERE NAME = 'uno'").toInt(), 1);

    illegal->insert();
    illegal->first();
    EXPECT_EQ(illegal->rowCount(), 2);
}

TEST_F(LiveTableTest, EditOnAnEmptyTableStartsTheRow)
{
    sql("DELETE FROM SETTINGS");
    data->tblSettings->refresh();
    data->tblSettings->edit();
    EXPECT_EQ(data->tblSettings->state(), LiveTable::State::Insert);
    data->tblSettings->setValue("PORT", "12300");
    data->tblSettings->post();
    EXPECT_EQ(scalar("SELECT PORT FROM SETTINGS").toString(), "12300");
}

TEST_F(LiveTableTest, ABadValueKeepsTheEditPending)
{
    LiveTable* messages = data->tblMessages;
    messages->insert();
    messages->setValue("SEQ", "abc");
    EXPECT_THROW(messages->post(), Error);
    EXPECT_EQ(messages->state(), LiveTable::State::Insert);
    messages->setValue("SEQ", "3");
    messages->setValue("ANNOUNCEMENT", QString(300, 'x'));
    EXPECT_THROW(messages->post(), Error);   // longer than the column
    messages->setValue("ANNOUNCEMENT", "fits");
    messages->post();
    EXPECT_EQ(messages->value("SEQ").toInt(), 3);
}

TEST_F(LiveTableTest, ClosedTableRefusesEveryOperation)
{
    LiveTable* banned = data->tblBanned;
    banned->close();
    EXPECT_EQ(banned->state(), LiveTable::State::Inactive);
    EXPECT_EQ(banned->rowCount(), 0);
    const std::vector<std::function<void()>> operations = {
        [&] { banned->edit(); }, [&] { banned->insert(); }, [&] { banned->post(); },
        [&] { banned->refresh(); }, [&] { banned->deleteCurrent(); }, [&] { banned->first(); },
        [&] { banned->value("NAME"); }, [&] { banned->setSortColumn("NAME"); },
    };
    for (const auto& operation : operations) {
        try {
            operation();
            ADD_FAILURE() << "no error on a closed table";
        } catch (const Error& e) {
            EXPECT_TRUE(e.message().contains("closed dataset")) << e.message().toStdString();
        }
    }
}

TEST_F(LiveTableTest, DeleteRemovesOnlyTheCurrentRowEvenAmongTwins)
{
    LiveTable* banned = data->tblBanned;
    for (int i = 0; i < 2; ++i)
        addRow(banned, {{"NAME", "Twin"}, {"ADDRESS", "5.5.5.5"}});
    addRow(banned, {{"NAME", "Zed"}, {"ADDRESS", "6.6.6.6"}});
    banned->refresh();
    banned->first();
    banned->deleteCurrent();
    EXPECT_EQ(column(banned, "NAME"), QStringList({"Twin", "Zed"}));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM BANNED WHERE NAME = 'Twin'").toInt(), 1);
    banned->last();
    banned->deleteCurrent();
    EXPECT_EQ(banned->currentRow(), 0);
    banned->deleteCurrent();
    EXPECT_EQ(banned->currentRow(), -1);
    EXPECT_THROW(banned->deleteCurrent(), Error);
}

TEST_F(LiveTableTest, RefreshKeepsThePositionAndRunsTheHook)
{
    LiveTable* banned = data->tblBanned;
    for (const char* name : {"Cat", "Amy", "Bob"})
        addRow(banned, {{"NAME", name}, {"ADDRESS", "1.1.1.1"}});
    int hookRuns = 0;
    banned->setAfterRefresh([&](LiveTable&) { ++hookRuns; });
    banned->setCurrentRow(2);
    banned->refresh();
    EXPECT_EQ(column(banned, "NAME"), QStringList({"Amy", "Bob", "Cat"}));
    EXPECT_EQ(banned->currentRow(), 2);
    EXPECT_EQ(hookRuns, 1);
    banned->setAfterRefresh({});
    sql("DELETE FROM BANNED WHERE NAME <> 'Amy'");
    banned->refresh();
    EXPECT_EQ(banned->currentRow(), 0);
    EXPECT_EQ(hookRuns, 1);
}

TEST_F(LiveTableTest, UnknownSortColumnChangesNothing)
{
    EXPECT_THROW(data->tblBanned->setSortColumn("NOPE"), Error);
    EXPECT_EQ(data->tblBanned->sortColumn(), "NAME");
}

TEST_F(LiveTableTest, PartialRereadMatchesAWholeReread)
{
    LiveTable* recent = data->tblRecent;
    for (int i = 0; i < 6; ++i)
        addRow(recent, {{"NAME", QString("P%1").arg(i)}, {"ADDRESS", "9.9.9.9"}});
    sql("UPDATE RECENT SET LASTSEEN = DATEADD(1 DAY TO LASTSEEN) WHERE NAME = 'P2'");
    sql("INSERT INTO RECENT (NAME, ADDRESS) VALUES ('P2', '9.9.9.9')");
    sql("DELETE FROM RECENT WHERE NAME = 'P0'");
    const QVariant oldest = scalar("SELECT MIN(LASTSEEN) FROM RECENT");
    recent->refreshRowsMatching({"NAME", "ADDRESS"}, {"P2  ", "9.9.9.9"}, "LASTSEEN", oldest);
    const QStringList partial = column(recent, "NAME");
    recent->refresh();
    EXPECT_EQ(partial, column(recent, "NAME"));
    EXPECT_EQ(partial.last(), "P2");
}

class ViewEditTest : public StoreTest {};

TEST_F(ViewEditTest, ACellEditThroughTheModelStaysPendingUntilPost)
{
    LiveTable* banned = data->tblBanned;
    addRow(banned, {{"NAME", "Amy"}, {"ADDRESS", "1.1.1.1"}});
    addRow(banned, {{"NAME", "Bob"}, {"ADDRESS", "2.2.2.2"}});
    banned->refresh();
    QSqlTableModel* model = banned->model();
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QTableView view;
    view.setModel(model);

    EXPECT_EQ(model->fieldIndex("ADDRESS"), 1);
    EXPECT_EQ(model->rowCount(), 2);
    ASSERT_TRUE(model->setData(model->index(1, 1), "3.3.3.3"));
    EXPECT_EQ(banned->state(), LiveTable::State::Edit);
    EXPECT_EQ(banned->currentRow(), 1);
    EXPECT_TRUE(banned->isModified());
    EXPECT_EQ(model->data(model->index(1, 1)).toString(), "3.3.3.3");
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM BANNED WHERE ADDRESS = '3.3.3.3'").toInt(), 0);
    banned->post();
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM BANNED WHERE ADDRESS = '3.3.3.3'").toInt(), 1);

    // Editing another row stores the pending one first.
    ASSERT_TRUE(model->setData(model->index(0, 0), "Ann"));
    ASSERT_TRUE(model->setData(model->index(1, 0), "Ben"));
    EXPECT_EQ(scalar("SELECT COUNT(*) FROM BANNED WHERE NAME = 'Ann'").toInt(), 1);
    banned->post();
    model->sort(1, Qt::AscendingOrder);
    EXPECT_EQ(banned->sortColumn(), "ADDRESS");
}

TEST_F(ViewEditTest, AFailedViewEditIsReportedNotThrown)
{
    data->tblMessages->insert();
    QSignalSpy failures(data->tblMessages, &LiveTable::operationFailed);
    QSqlTableModel* model = data->tblMessages->model();
    ASSERT_TRUE(model->setData(model->index(0, 0), "x"));
    EXPECT_FALSE(model->insertRow(1));   // storing the pending row fails first
    ASSERT_EQ(failures.count(), 1);
    EXPECT_TRUE(failures.at(0).at(0).toString().contains("'x'"));
    EXPECT_EQ(data->tblMessages->state(), LiveTable::State::Insert);
}

}  // namespace
