#include "tests/store/storetest.h"

#include "core/error.h"

#include <QSqlError>

namespace palisor::test {

QApplication& App()
{
    static int argc = 1;
    static char name[] = "store_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

StoreTest::StoreTest()
{
    App();
    data = db.createDataModule();
}

void StoreTest::addRow(LiveTable* table, std::initializer_list<std::pair<const char*, QVariant>> values)
{
    table->insert();
    for (const auto& [column, value] : values)
        table->setValue(QString::fromLatin1(column), value);
    table->post();
}

QStringList StoreTest::column(LiveTable* table, const QString& name)
{
    QStringList texts;
    for (int r = 0; r < table->rowCount(); ++r) {
        const QVariant v = table->value(r, name);
        texts << (v.isNull() ? QString() : v.toString());
    }
    return texts;
}

void StoreTest::sql(const QString& statement)
{
    QSqlDatabase connection = data->database();
    QSqlQuery q(connection);
    if (!q.exec(statement))
        throw Error(q.lastError().text());
    connection.commit();
    connection.transaction();
}

QVariant StoreTest::scalar(const QString& statement)
{
    QSqlQuery q(data->database());
    if (!q.exec(statement) || !q.next())
        throw Error(q.lastError().text());
    return q.value(0);
}

}  // namespace palisor::test
