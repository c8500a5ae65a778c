#pragma once

#include <QHeaderView>
#include <QTableView>

namespace palisor {

class LiveTable;

// The row-indicator column at the left of a data grid: a marker on the
// current row that shows whether it is browsed, edited or newly inserted.
class RowIndicator final : public QHeaderView {
    Q_OBJECT
public:
    RowIndicator(LiveTable& table, QWidget* parent);
    QSize sizeHint() const override;

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;

private:
    LiveTable& table_;
};

// A grid over a live table: every column of the table titled with its name,
// the table's current row as the grid's current row in both directions, and
// the keys of editing in place (Insert or moving down past the last row adds
// a row, leaving a row stores it, Escape abandons it, Ctrl+Delete asks
// "Delete record?" and deletes). A read-only grid highlights whole rows.
class TableGrid final : public QTableView {
    Q_OBJECT
public:
    TableGrid(LiveTable& table, bool editable, QWidget* parent = nullptr);

    LiveTable& table() const { return table_; }
    bool editable() const { return editable_; }

    // Widths from the columns' declared lengths (the grid forgets its widths
    // whenever the table is re-read, and sizes them again).
    void sizeColumns();
    // Moves the cell editor's text, if one is open, into the table's row.
    void commitEditor();
    // What leaving the current row does: a new row left untouched is dropped,
    // a pending change is stored.
    void leaveRow();

signals:
    void titleClicked(const QString& column);
    // A press outside every cell; presses on a cell only select it.
    void mouseDown(Qt::MouseButton button);
    void mouseUp(Qt::MouseButton button);
    // The right button was released (or the menu key pressed) here.
    void popupRequested(const QPoint& globalPos);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void reset() override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void showTableRow();
    void appendRow();
    void deleteRow();
    bool pending() const;

    LiveTable& table_;
    bool editable_;
    // The grid's current cell is moving because the table moved or changed
    // its rows, not because the user moved it.
    bool following_ = false;
};

}  // namespace palisor
