#include "window/playergrid.h"

#include "core/dialogs.h"
#include "core/errorhandler.h"
#include "store/livetable.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QSqlTableModel>

namespace palisor {

TPlayerGrid::TPlayerGrid(LiveTable& players, QWidget* parent) : QTableView(parent), players_(players)
{
    setModel(players_.model());
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setShowGrid(true);
    setSortingEnabled(false);
    setWordWrap(false);
    verticalHeader()->setDefaultSectionSize(17);
    verticalHeader()->setSectionsClickable(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);

    // The selected row stays marked while another control has the focus.
    QPalette p = palette();
    p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
    setPalette(p);

    // Re-reading the table rebuilds the columns, PORT among them.
    connect(model(), &QAbstractItemModel::modelReset, this, &TPlayerGrid::ArrangeColumns);
    connect(model(), &QAbstractItemModel::layoutChanged, this, &TPlayerGrid::ArrangeColumns);
    connect(&players_, &LiveTable::currentRowChanged, this, &TPlayerGrid::followTable);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid() && current.row() != players_.currentRow())
                    players_.setCurrentRow(current.row());
            });
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, [this](int section) {
        emit TitleClicked(model()->headerData(section, Qt::Horizontal).toString());
    });
    ArrangeColumns();
    followTable(players_.currentRow());
}

void TPlayerGrid::ArrangeColumns()
{
    if (!players_.isOpen())
        return;
    // Each column as wide as its field's longest value or its title.
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (const QString& column : players_.columnNames()) {
        const int index = players_.fieldIndex(column);
        const int chars = qMax(players_.declaredLength(column), int(column.size()));
        setColumnWidth(index, chars * digit + 8);
    }
    setColumnHidden(players_.fieldIndex(QStringLiteral("PORT")), true);
}

void TPlayerGrid::followTable(int row)
{
    if (row < 0) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex current = currentIndex();
    const int column = current.isValid() ? current.column() : 0;
    const QModelIndex target = model()->index(row, column);
    if (target.isValid() && target != current)
        selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TPlayerGrid::openPopup(const QPoint& globalPos)
{
    if (PopupPlayers && !PopupPlayers->actions().isEmpty())
        PopupPlayers->popup(globalPos);
}

void TPlayerGrid::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        const QModelIndex cell = indexAt(event->position().toPoint());
        if (cell.isValid()) {
            selectionModel()->setCurrentIndex(cell, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        } else if (currentIndex().column() <= 0) {
            // A right click beside the cells while the first column is current
            // is not meant for any player.
            autoPopup_ = false;
        }
        event->accept();
        return;
    }
    QTableView::mousePressEvent(event);
}

void TPlayerGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::RightButton && autoPopup_)
        openPopup(event->globalPosition().toPoint());
    autoPopup_ = true;
    if (event->button() == Qt::RightButton)
        event->accept();
    else
        QTableView::mouseReleaseEvent(event);
}

void TPlayerGrid::contextMenuEvent(QContextMenuEvent* event)
{
    // Mouse clicks open the menu on release (above); this is the keyboard's menu key.
    if (event->reason() == QContextMenuEvent::Keyboard) {
        const QRect cell = visualRect(currentIndex());
        openPopup(viewport()->mapToGlobal(cell.isValid() ? cell.center() : QPoint(0, 0)));
    }
    event->accept();
}

void TPlayerGrid::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete && event->modifiers() == Qt::ControlModifier) {
        event->accept();
        if (!DeleteAllowed || players_.currentRow() < 0)
            return;
        try {
            const QString clientId = players_.text(QStringLiteral("CLIENTID"));
            if (dialogs().okCancel(QStringLiteral("Delete record?")))
                emit DeleteRequested(clientId);
        } catch (const std::exception& e) {
            HandleApplicationError(e);
        }
        return;
    }
    QTableView::keyPressEvent(event);
}

}  // namespace palisor
