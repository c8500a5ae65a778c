#pragma once

#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QSqlQuery>
#include <initializer_list>
#include <ostream>
#include <memory>
#include <utility>

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace palisor::test {

// The Qt application every store test needs for the SQL driver and views.
QApplication& App();

// A fresh database with a connected data module.
class StoreTest : public ::testing::Test {
protected:
    StoreTest();

    // Adds and posts a row through the live table.
    static void addRow(LiveTable* table, std::initializer_list<std::pair<const char*, QVariant>> values);
    // The column's text in every row, in the table's current order.
    static QStringList column(LiveTable* table, const QString& name);
    // Runs a statement on the module's connection and commits it.
    void sql(const QString& statement);
    // The first value of a query's first row.
    QVariant scalar(const QString& statement);

    TempDatabase db;
    std::unique_ptr<TDataPalisor> data;
};

}  // namespace palisor::test
