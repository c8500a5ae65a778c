#pragma once

#include <QSqlTableModel>

namespace palisor {

class LiveTable;

// The item model a live table shows to its views. The rows live in the
// LiveTable (read whole into memory, with the pending edit on top); this
// model only presents them, and turns a view's cell edit into an edit of the
// table. Column names come from the table, so fieldIndex() and record()
// (without a row) work as usual; read row values through data() or the
// LiveTable, not through record(row).
class LiveTableModel final : public QSqlTableModel {
    Q_OBJECT
public:
    explicit LiveTableModel(LiveTable& table);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool insertRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;
    bool canFetchMore(const QModelIndex& parent = QModelIndex()) const override;
    void fetchMore(const QModelIndex& parent = QModelIndex()) override;
    void sort(int column, Qt::SortOrder order) override;
    bool select() override;
    bool submit() override;
    void revert() override;

private:
    friend class LiveTable;
    void setColumns(const QSqlDatabase& db, const QString& table, const QStringList& columns);
    using QSqlTableModel::beginInsertRows;
    using QSqlTableModel::beginRemoveRows;
    using QSqlTableModel::beginResetModel;
    using QSqlTableModel::endInsertRows;
    using QSqlTableModel::endRemoveRows;
    using QSqlTableModel::endResetModel;

    LiveTable& table_;
};

}  // namespace palisor
