#pragma once

#include <QObject>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlTableModel>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

namespace palisor {

class LiveTableModel;

// The live table object: a whole database table read into memory, one current
// row shared by every view, a sort column, edit/post/cancel/delete/refresh and
// locate, and the after-post and after-refresh hooks windows install.
//
// Views (QTableView, QDataWidgetMapper) bind to model(). A cell edited through
// the model puts the table into Edit (or Insert) with the change pending;
// post() stores it. Every stored change is committed at once.
//
// A table read on first use opens with its columns only; its rows are read
// the first time anything looks at them, so a list nobody shows costs
// neither the time to read it nor the memory to hold it. Until then, moving
// the current row only remembers where it is to be, and re-reads have
// nothing to do.
class LiveTable : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    enum class Reading { AtOpen, OnFirstUse };

    // initialSortColumn empty: rows in the database's natural order; rows
    // with equal sort values keep the order in which they were stored.
    LiveTable(const QString& tableName, const QString& initialSortColumn, Reading reading = Reading::AtOpen,
              QObject* parent = nullptr);
    ~LiveTable() override;

    // Holds only the rows whose `column` is `value` (one game server's), and
    // not that column: a row stored through this table gets the value from
    // the database. Takes effect at the next open; a refresh of an open
    // table after another value reads that value's rows.
    void setScope(const QString& column, qint64 value);
    // The scope as a condition for statements of one's own; empty without one.
    QString scopeCondition() const;

    QString tableName() const;
    // Always fully fetched. fieldIndex() and record() give the columns; the
    // rows live in this object, so read them through data() or value(), not
    // through the model's record(row).
    QSqlTableModel* model() const;

    bool isOpen() const;
    void open(const QSqlDatabase& db);
    void close();                    // a pending edit is abandoned
    State state() const;

    int rowCount() const;
    int currentRow() const;          // -1 when the table is empty
    void setCurrentRow(int row);     // clamped to the rows there are
    void first();
    void last();
    bool next();                     // false at the last row (no move)
    bool prior();                    // false at the first row (no move)

    QStringList columnNames() const;                     // in table order
    int fieldIndex(const QString& column) const;         // -1 if absent
    int declaredLength(const QString& column) const;     // in characters
    // The text column's character set as the database names it (for example
    // "ISO8859_1"); empty for a column that holds no text.
    QString characterSet(const QString& column) const;
    QVariant value(const QString& column) const;         // current row, pending edits included
    QString text(const QString& column) const;           // "" for NULL, trailing blanks kept
    QVariant value(int row, const QString& column) const;

    void edit();      // Edit on the current row; on an empty table an Insert
    void insert();    // new empty row at the end, current, state Insert
    void setValue(const QString& column, const QVariant& v);
    void post();      // store, commit, re-read the row, Browse, after-post hook
    void cancel();    // abandon the pending Edit/Insert
    bool isModified() const;
    void deleteCurrent();
    void refresh();   // whole table again; current row kept by position
    QString sortColumn() const;
    void setSortColumn(const QString& column);  // posts a pending edit first

    void setAfterPost(std::function<void(LiveTable&)> hook);      // empty removes it
    void setAfterRefresh(std::function<void(LiveTable&)> hook);

    // A cheap stand-in for refresh() after a change known to touch only some
    // rows: re-reads the rows the database holds whose columns equal the
    // values (as the database compares them: trailing blanks ignored, NULL
    // equal to NULL) and puts them at their place in the sort order, in place
    // of this table's copies of them; with dropColumn given, also
    // forgets the rows whose dropColumn value is below dropBelow. Ends like
    // refresh(): current row kept by position, after-refresh hook, refreshed().
    void refreshRowsMatching(const QStringList& columns, const QVariantList& values,
                             const QString& dropColumn = QString(), const QVariant& dropBelow = QVariant());

    // What a statement selects to read whole rows as this table holds them:
    // the row locator, then every column.
    QString rowSelectList() const;
    // refreshRowsMatching() for rows read elsewhere by such a statement, each
    // list holding one row's values in that order.
    void refreshRows(const QList<QVariantList>& rows);

    // Whether the rows are in memory (always, for a table read at open).
    bool rowsRead() const;
    // The stored values of the given columns of every row, in the table's
    // order, with each row's locator; read from the database when the rows
    // are not in memory, without putting them there.
    using StoredRowVisitor = std::function<void(int row, quint64 key, const QVariantList& values)>;
    void visitStoredRows(const QStringList& columns, const StoredRowVisitor& visit) const;
    // One stored row found by its locator.
    QVariantList storedValues(quint64 key, const QStringList& columns) const;
    // Stores one value of the row at that place, which becomes the current
    // row, as edit(), setValue() and post() would; with the rows not in
    // memory, straight to the row with that locator.
    void storeValueAt(int row, quint64 key, const QString& column, const QVariant& value);

signals:
    void currentRowChanged(int row);
    void stateChanged(palisor::LiveTable::State state);
    void refreshed();
    // The stored rows changed: row >= 0 means only that row's stored values
    // (it may be a row just appended); -1 means rows were re-read, added or
    // removed. Lookups that index the table listen to this.
    void rowsChanged(int row);
    // A failure while a view edited, inserted, removed or sorted through
    // model(), where Qt's event handling cannot take an exception.
    void operationFailed(const QString& message);

private:
    friend class LiveTableModel;
    struct Row {
        quint64 key = 0;   // the database's row locator; 0 for a row not stored yet
        QVariantList values;
    };

    void requireOpen() const;
    void requireRows() const;
    int requireColumn(const QString& column) const;
    void setState(State s);
    void moveTo(int row);
    void leaveRow();
    void finishEdit();
    void reload();
    QList<Row> readAllRows() const;
    QString orderBy() const;
    void afterRowsReread(int oldCurrent);
    void mergeFreshRows(QList<Row> fresh);
    void rowsStillUnread();
    void commit();
    void storePending();
    Row readRow(quint64 key) const;
    QVariant cell(int row, int column) const;
    void cellEdited(int row, int column, const QVariant& value);
    int sortedPosition(const Row& row) const;
    void dropRowsBelow(int column, const QVariant& bound);
    QString selectList() const;

    QString table_;
    QString sort_;
    QString scopeColumn_;
    qint64 scopeValue_ = 0;
    // " WHERE " with the scope and the conditions given, or nothing.
    QString where(const QString& conditions = QString()) const;
    Reading reading_;
    bool rowsRead_ = false;
    int pendingCurrent_ = 0;      // where the current row is to be once the rows are read
    QSqlDatabase db_;
    QStringList columns_;
    QList<int> lengths_;
    QStringList characterSets_;
    QList<Row> rows_;
    QSet<quint64> keys_;          // the keys of the stored rows in rows_
    std::unique_ptr<LiveTableModel> model_;
    State state_ = State::Inactive;
    int current_ = -1;
    int editRow_ = -1;
    int returnRow_ = -1;          // current row before an Insert
    QVariantList pending_;
    QList<bool> changed_;
    std::function<void(LiveTable&)> afterPost_;
    std::function<void(LiveTable&)> afterRefresh_;
};

}  // namespace palisor
