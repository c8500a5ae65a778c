#include "tests/editors/editorfixture.h"

#include "core/errorhandler.h"
#include "core/timing.h"

#include <QAbstractItemView>
#include <QDialog>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>
#include <QtTest/QTest>

namespace palisor::test {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "editors_test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: Qt's own statics may be gone before a static one would be.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

void RunWhileModal(QDialog& window, const std::function<void()>& body, const std::function<int()>& show)
{
    QTimer::singleShot(0, &window, [&window, body] {
        body();
        window.close();
        if (window.isVisible()) {
            ADD_FAILURE() << "the window refused to close";
            window.hide();
        }
    });
    show();
}

void WhenModalOpens(const std::function<void(QWidget&)>& inspect)
{
    QTimer::singleShot(0, [inspect] {
        QWidget* window = QApplication::activeModalWidget();
        if (!window) {
            ADD_FAILURE() << "no modal window opened";
            return;
        }
        inspect(*window);
        window->close();
    });
}

QList<QVariantList> Rows(const LiveTable& table)
{
    QList<QVariantList> rows;
    for (int r = 0; r < table.rowCount(); ++r) {
        QVariantList row;
        for (const QString& column : table.columnNames())
            row << table.value(r, column);
        rows << row;
    }
    return rows;
}

QStringList Column(const LiveTable& table, const QString& column)
{
    QStringList texts;
    for (int r = 0; r < table.rowCount(); ++r) {
        const QVariant v = table.value(r, column);
        texts << (v.isNull() ? QStringLiteral("(null)") : v.toString());
    }
    return texts;
}

QByteArray ReadBytes(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return file.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    ASSERT_EQ(file.write(bytes), bytes.size());
}

// Each character as a key carrying it, any character a keyboard can type.
static void TypeKeys(QWidget* widget, const QString& text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

void TypeIntoCell(QTableView& grid, const QString& text)
{
    ASSERT_FALSE(text.isEmpty());
    if (QWidget* open = grid.indexWidget(grid.currentIndex())) {
        TypeKeys(open, text);
        return;
    }
    TypeKeys(&grid, text.left(1));
    QWidget* editor = grid.indexWidget(grid.currentIndex());
    ASSERT_NE(editor, nullptr) << "typing opened no cell editor";
    TypeKeys(editor, text.mid(1));
}

EditorTest::EditorTest()
{
    data = db.createDataModule();
    setApplicationErrorHandler([this](const QString& message) { errors << message; });
}

EditorTest::~EditorTest()
{
    setApplicationErrorHandler({});
    setClockFunction({});
}

void EditorTest::AddRows(LiveTable& table, const QStringList& columns, const QList<QVariantList>& rows)
{
    for (const QVariantList& row : rows) {
        table.insert();
        for (int c = 0; c < columns.size(); ++c)
            table.setValue(columns[c], row[c]);
        table.post();
    }
    table.refresh();
}

int EditorTest::StoredRows(const QString& table)
{
    QSqlQuery q(data->database());
    EXPECT_TRUE(q.exec(QStringLiteral("SELECT COUNT(*) FROM ") + table));
    return q.next() ? q.value(0).toInt() : -1;
}

void EditorTest::RefuseValue(const QString& table, const QString& column, const QString& value)
{
    data.reset();
    {
        QSqlDatabase ddl = QSqlDatabase::addDatabase(QStringLiteral("QIBASE"), QStringLiteral("refuse"));
        ddl.setDatabaseName(db.databasePath());
        ddl.setUserName(QStringLiteral("SYSDBA"));
        ddl.setPassword(QStringLiteral("masterkey"));
        ASSERT_TRUE(ddl.open()) << ddl.lastError().text().toStdString();
        QSqlQuery q(ddl);
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE EXCEPTION REFUSED '%1 is refused'").arg(value)))
            << q.lastError().text().toStdString();
        ASSERT_TRUE(q.exec(QStringLiteral("CREATE TRIGGER REFUSE FOR %1 BEFORE INSERT OR UPDATE AS BEGIN "
                                          "IF (NEW.%2 = '%3') THEN EXCEPTION REFUSED; END")
                               .arg(table, column, value)))
            << q.lastError().text().toStdString();
        q.finish();
        ddl.commit();
        ddl.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("refuse"));
    data = db.createDataModule();
}

}  // namespace palisor::test
