// A data module on a temporary database, scripted dialogs and a record of
// the errors that reach the application's handler, for the list editor tests.
#pragma once

#include "store/datapalisor.h"
#include "store/livetable.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/dialogs/scripteddialogs.h"

#include <QApplication>
#include <QStringList>
#include <QVariantList>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

class QDialog;
class QTableView;

#include <ostream>

// Readable texts in failure messages.
inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace palisor::test {

QApplication& App();

// Shows the window with its opener's protocol (ShowModal), runs `body` while
// it is open, then closes it the way the close box does. A window that
// refuses to close is hidden, so the test never hangs.
void RunWhileModal(QDialog& window, const std::function<void()>& body, const std::function<int()>& show);

template <typename Window>
void WhileOpen(Window& window, const std::function<void()>& body)
{
    RunWhileModal(window, body, [&window] { return window.ShowModal(); });
}

// Runs `inspect` on the next modal window that opens, then closes it.
void WhenModalOpens(const std::function<void(QWidget&)>& inspect);

// Rows as the table holds them, column by column in table order.
QList<QVariantList> Rows(const LiveTable& table);
// One column's text of every row; NULL reads as "(null)".
QStringList Column(const LiveTable& table, const QString& column);
QByteArray ReadBytes(const QString& path);
void WriteBytes(const QString& path, const QByteArray& bytes);

// Types text into the grid's current cell: into its open editor, or
// opening the editor with the first key as a user does.
void TypeIntoCell(QTableView& grid, const QString& text);

class EditorTest : public ::testing::Test {
protected:
    EditorTest();
    ~EditorTest() override;

    // Adds rows through the table object, committed at once, and re-reads
    // the table as the program finds it when it starts.
    void AddRows(LiveTable& table, const QStringList& columns, const QList<QVariantList>& rows);
    int StoredRows(const QString& table);
    // Makes the database refuse to store the value in the column, with an
    // error saying "<value> is refused". Replaces the data module.
    void RefuseValue(const QString& table, const QString& column, const QString& value);

    QApplication& app = App();
    TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
    ScriptedDialogs dialogs;
    QStringList errors;   // messages that reached the application's handler
};

}  // namespace palisor::test
