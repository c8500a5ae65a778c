#include "store/livetablemodel.h"

#include "core/error.h"
#include "store/livetable.h"
#include "store/sqltext.h"

#include <QSqlQuery>

namespace palisor {

LiveTableModel::LiveTableModel(LiveTable& table) : table_(table)
{
    setEditStrategy(QSqlTableModel::OnManualSubmit);
}

void LiveTableModel::setColumns(const QSqlDatabase& db, const QString& table, const QStringList& columns)
{
    // Gives the base class the column record behind fieldIndex() and record().
    QStringList list;
    for (const QString& column : columns)
        list << sql::quoted(column);
    QSqlQuery shape(db);
    shape.setForwardOnly(true);
    shape.exec(QStringLiteral("SELECT %1 FROM %2 WHERE 1 = 0").arg(list.join(QStringLiteral(", ")), sql::quoted(table)));
    QSqlQueryModel::setQuery(std::move(shape));
}

int LiveTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : table_.rowCount();
}

int LiveTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() || !table_.isOpen() ? 0 : int(table_.columns_.size());
}

QVariant LiveTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return QVariant();
    return table_.cell(index.row(), index.column());
}

bool LiveTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return false;
    // Views call this from Qt's event handling, which must not be unwound by
    // an exception; a failure is reported through the table's signal instead.
    try {
        table_.cellEdited(index.row(), index.column(), value);
        return true;
    } catch (const Error& e) {
        emit table_.operationFailed(e.message());
        return false;
    }
}

Qt::ItemFlags LiveTableModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable;
}

QVariant LiveTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QSqlTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Horizontal)
        return section < columnCount() ? QVariant(table_.columns_[section]) : QVariant();
    if (table_.state() == LiveTable::State::Insert && section == table_.editRow_)
        return QStringLiteral("*");
    return section + 1;
}

bool LiveTableModel::insertRows(int, int count, const QModelIndex& parent)
{
    if (parent.isValid() || count != 1)
        return false;
    try {
        table_.insert();
        return true;
    } catch (const Error& e) {
        emit table_.operationFailed(e.message());
        return false;
    }
}

bool LiveTableModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || count != 1 || row < 0 || row >= rowCount())
        return false;
    try {
        table_.setCurrentRow(row);
        table_.deleteCurrent();
        return true;
    } catch (const Error& e) {
        emit table_.operationFailed(e.message());
        return false;
    }
}

// Every row is in memory from the moment the table is read.
bool LiveTableModel::canFetchMore(const QModelIndex&) const { return false; }
void LiveTableModel::fetchMore(const QModelIndex&) {}

void LiveTableModel::sort(int column, Qt::SortOrder)
{
    if (column < 0 || column >= columnCount())
        return;
    try {
        table_.setSortColumn(table_.columns_[column]);
    } catch (const Error& e) {
        emit table_.operationFailed(e.message());
    }
}

bool LiveTableModel::select()
{
    try {
        table_.refresh();
        return true;
    } catch (const Error& e) {
        emit table_.operationFailed(e.message());
        return false;
    }
}

// A finished cell edit stays pending: the row is stored when it is left
// (LiveTable::post), as the list windows expect.
bool LiveTableModel::submit() { return true; }
void LiveTableModel::revert() {}

}  // namespace palisor
