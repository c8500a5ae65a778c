#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <functional>
#include <memory>

class QSqlTableModel;

namespace palisor {

class LiveTableModel;

// The live table object: a whole database table read into memory, one current
// row shared by every view, a sort column, edit/post/cancel/delete/refresh and
// locate, and the after-post and after-refresh hooks windows install.
//
// Views (QTableView, QDataWidgetMapper) bind to model(). A cell edited through
// the model puts the table into Edit (or Insert) with the change pending;
// post() stores it. Every stored change is committed at once.
class LiveTable : public QObject {
    Q_OBJECT
public:
    enum class State { Inactive, Browse, Edit, Insert };

    // initialSortColumn empty: rows in the database's natural order.
    LiveTable(const QString& tableName, const QString& initialSortColumn, QObject* parent = nullptr);
    ~LiveTable() override;

    QString tableName() const;
    QSqlTableModel* model() const;   // always fully fetched

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

    // Re-reads only the rows whose column equals the value (trailing blanks
    // ignored), keeping the sort order, as a cheap stand-in for refresh()
    // after a change that touched only those rows.
    void refreshRowsWhere(const QString& column, const QString& value);

    // Called after the table's rows were re-read or changed; lookups that
    // index a table subscribe here to stay in step with it.
    using RowsListener = std::function<void()>;
    void setRowsChangedListener(RowsListener listener);

signals:
    void currentRowChanged(int row);
    void stateChanged(palisor::LiveTable::State state);
    void refreshed();

private:
    friend class LiveTableModel;
    void requireOpen() const;
    int requireColumn(const QString& column) const;
    void setState(State s);
    void moveTo(int row);
    void reload();
    void commit();
    void cellEdited(int row);
    void rowsChanged();

    QString table_;
    QString sort_;
    QSqlDatabase db_;
    std::unique_ptr<LiveTableModel> model_;
    State state_ = State::Inactive;
    int current_ = -1;
    std::function<void(LiveTable&)> afterPost_;
    std::function<void(LiveTable&)> afterRefresh_;
    RowsListener rowsListener_;
};

}  // namespace palisor
