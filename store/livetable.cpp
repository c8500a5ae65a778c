#include "store/livetable.h"

#include "core/error.h"
#include "store/livetablemodel.h"
#include "store/sqltext.h"

#include <QSet>
#include <QSqlField>
#include <QSqlRecord>
#include <algorithm>

namespace palisor {

using namespace palisor::sql;

LiveTable::LiveTable(const QString& tableName, const QString& initialSortColumn, Reading reading, QObject* parent)
    : QObject(parent), table_(tableName), sort_(initialSortColumn), reading_(reading),
      model_(std::make_unique<LiveTableModel>(*this))
{
}

LiveTable::~LiveTable() = default;

QString LiveTable::tableName() const { return table_; }
QSqlTableModel* LiveTable::model() const { return model_.get(); }
bool LiveTable::isOpen() const { return state_ != State::Inactive; }
LiveTable::State LiveTable::state() const { return state_; }
QString LiveTable::sortColumn() const { return sort_; }

void LiveTable::requireOpen() const
{
    if (!isOpen())
        throw Error(QStringLiteral("Cannot perform this operation on a closed dataset (%1)").arg(table_));
}

void LiveTable::requireRows() const
{
    requireOpen();
    if (rowsRead_)
        return;
    // Read quietly: whoever asked is looking at the rows for the first time,
    // so nobody holds an earlier picture of them to be told about.
    auto* self = const_cast<LiveTable*>(this);
    self->rows_ = readAllRows();
    self->keys_.clear();
    for (const Row& row : rows_)
        self->keys_.insert(row.key);
    self->rowsRead_ = true;
    self->current_ = rows_.isEmpty() ? -1 : std::clamp(pendingCurrent_, 0, int(rows_.size()) - 1);
}

bool LiveTable::rowsRead() const { return rowsRead_; }

int LiveTable::requireColumn(const QString& column) const
{
    const int index = fieldIndex(column);
    if (index < 0)
        throw Error(QStringLiteral("%1: Field '%2' not found").arg(table_, column));
    return index;
}

void LiveTable::setState(State s)
{
    if (state_ == s)
        return;
    state_ = s;
    emit stateChanged(s);
}

void LiveTable::open(const QSqlDatabase& db)
{
    if (isOpen())
        return;
    if (!db.isOpen())
        throw Error(QStringLiteral("Cannot open %1: the database is not connected").arg(table_));
    db_ = db;
    db_.transaction();   // joins the running transaction when there is one

    // Declared lengths in characters: the driver reports bytes of its own
    // connection character set, which is not what an edit box limits.
    QSqlQuery meta = run(db_,
        QStringLiteral("SELECT TRIM(RF.RDB$FIELD_NAME), F.RDB$CHARACTER_LENGTH, F.RDB$FIELD_LENGTH, "
                       "TRIM(CS.RDB$CHARACTER_SET_NAME) "
                       "FROM RDB$RELATION_FIELDS RF JOIN RDB$FIELDS F ON F.RDB$FIELD_NAME = RF.RDB$FIELD_SOURCE "
                       "LEFT JOIN RDB$CHARACTER_SETS CS ON CS.RDB$CHARACTER_SET_ID = F.RDB$CHARACTER_SET_ID "
                       "AND F.RDB$CHARACTER_LENGTH IS NOT NULL "
                       "WHERE RF.RDB$RELATION_NAME = ? ORDER BY RF.RDB$FIELD_POSITION"),
        {table_});
    QStringList columns;
    QList<int> lengths;
    QStringList characterSets;
    while (meta.next()) {
        if (meta.value(0).toString() == scopeColumn_)
            continue;
        columns << meta.value(0).toString();
        lengths << (meta.value(1).isNull() ? meta.value(2).toInt() : meta.value(1).toInt());
        characterSets << meta.value(3).toString();
    }
    if (columns.isEmpty())
        throw Error(QStringLiteral("Table unknown: %1").arg(table_));
    if (!sort_.isEmpty() && !columns.contains(sort_, Qt::CaseInsensitive))
        throw Error(QStringLiteral("%1: Field '%2' not found").arg(table_, sort_));
    columns_ = columns;
    lengths_ = lengths;
    characterSets_ = characterSets;
    model_->setColumns(db_, table_, columns_);

    if (reading_ == Reading::OnFirstUse) {
        model_->beginResetModel();
        rows_.clear();
        keys_.clear();
        rowsRead_ = false;
        pendingCurrent_ = 0;
        current_ = -1;
        model_->endResetModel();
        setState(State::Browse);
        emit rowsChanged(-1);
        return;
    }
    reload();
    setState(State::Browse);
    afterRowsReread(0);
}

void LiveTable::close()
{
    if (!isOpen())
        return;
    model_->beginResetModel();
    rows_.clear();
    keys_.clear();
    pending_.clear();
    changed_.clear();
    editRow_ = -1;
    current_ = -1;
    rowsRead_ = false;
    pendingCurrent_ = 0;
    // A view that looks during the reset finds the table closed, not
    // waiting to be read from a connection that may be gone.
    state_ = State::Inactive;
    model_->endResetModel();
    emit stateChanged(State::Inactive);
    emit currentRowChanged(-1);
    emit rowsChanged(-1);
}

int LiveTable::rowCount() const
{
    if (!isOpen())
        return 0;
    requireRows();
    return int(rows_.size());
}

int LiveTable::currentRow() const
{
    if (isOpen())
        requireRows();
    return current_;
}

void LiveTable::setCurrentRow(int row) { moveTo(row); }
void LiveTable::first() { moveTo(0); }
void LiveTable::last() { moveTo(rowCount() - 1); }

bool LiveTable::next()
{
    requireRows();
    if (current_ + 1 >= rowCount())
        return false;
    moveTo(current_ + 1);
    return true;
}

bool LiveTable::prior()
{
    requireRows();
    if (current_ <= 0)
        return false;
    moveTo(current_ - 1);
    return true;
}

void LiveTable::moveTo(int row)
{
    requireOpen();
    if (!rowsRead_) {
        pendingCurrent_ = std::max(0, row);
        return;
    }
    row = std::clamp(row, 0, std::max(0, rowCount() - 1));
    if (rows_.isEmpty() || row == current_)
        return;
    if (state_ != State::Browse) {
        leaveRow();
        row = std::clamp(row, 0, std::max(0, rowCount() - 1));
        if (rows_.isEmpty() || row == current_)
            return;
    }
    current_ = row;
    emit currentRowChanged(current_);
}

// Leaving a row stores what was typed into it; a new row nobody typed into
// is dropped.
void LiveTable::leaveRow()
{
    if (state_ == State::Browse)
        return;
    if (isModified())
        post();
    else
        cancel();
}

QStringList LiveTable::columnNames() const { return columns_; }

int LiveTable::fieldIndex(const QString& column) const
{
    for (int i = 0; i < columns_.size(); ++i)
        if (columns_[i].compare(column, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

int LiveTable::declaredLength(const QString& column) const
{
    requireOpen();
    return lengths_[requireColumn(column)];
}

QString LiveTable::characterSet(const QString& column) const
{
    requireOpen();
    return characterSets_[requireColumn(column)];
}

QVariant LiveTable::cell(int row, int column) const
{
    if (row == editRow_ && state_ != State::Browse)
        return pending_[column];
    return rows_[row].values[column];
}

QVariant LiveTable::value(const QString& column) const
{
    requireRows();
    const int c = requireColumn(column);
    if (current_ < 0)
        return QVariant();
    return cell(current_, c);
}

QString LiveTable::text(const QString& column) const
{
    const QVariant v = value(column);
    return v.isNull() ? QString() : v.toString();
}

QVariant LiveTable::value(int row, const QString& column) const
{
    requireRows();
    const int c = requireColumn(column);
    if (row < 0 || row >= rowCount())
        throw Error(QStringLiteral("%1: row %2 out of range").arg(table_).arg(row));
    return cell(row, c);
}

void LiveTable::edit()
{
    requireRows();
    if (state_ != State::Browse)
        return;
    if (rows_.isEmpty()) {
        insert();
        return;
    }
    editRow_ = current_;
    pending_ = rows_[current_].values;
    changed_ = QList<bool>(columns_.size(), false);
    setState(State::Edit);
}

void LiveTable::insert()
{
    requireRows();
    leaveRow();
    Row row;
    const QSqlRecord shape = model_->record();
    for (int c = 0; c < columns_.size(); ++c)
        row.values << QVariant(shape.field(c).metaType());
    const int at = int(rows_.size());
    returnRow_ = current_;
    model_->beginInsertRows(QModelIndex(), at, at);
    rows_.append(row);
    model_->endInsertRows();
    editRow_ = at;
    pending_ = row.values;
    changed_ = QList<bool>(columns_.size(), false);
    current_ = at;
    setState(State::Insert);
    emit currentRowChanged(current_);
}

void LiveTable::setValue(const QString& column, const QVariant& v)
{
    requireRows();
    const int c = requireColumn(column);
    if (state_ == State::Browse)
        edit();
    pending_[c] = v;
    changed_[c] = true;
    const QModelIndex at = model_->index(editRow_, c);
    emit model_->dataChanged(at, at);
}

void LiveTable::cellEdited(int row, int column, const QVariant& value)
{
    if (state_ != State::Browse && row != editRow_)
        leaveRow();
    if (row >= rowCount())
        return;
    moveTo(row);
    setValue(columns_[column], value);
}

bool LiveTable::isModified() const
{
    return state_ != State::Browse && state_ != State::Inactive
           && std::any_of(changed_.begin(), changed_.end(), [](bool b) { return b; });
}

void LiveTable::cancel()
{
    requireOpen();
    if (state_ == State::Edit) {
        const int row = editRow_;
        editRow_ = -1;
        setState(State::Browse);
        emit model_->dataChanged(model_->index(row, 0), model_->index(row, int(columns_.size()) - 1));
        emit rowsChanged(row);
    } else if (state_ == State::Insert) {
        const int row = editRow_;
        editRow_ = -1;
        model_->beginRemoveRows(QModelIndex(), row, row);
        rows_.removeAt(row);
        model_->endRemoveRows();
        setState(State::Browse);
        current_ = rows_.isEmpty() ? -1 : std::clamp(returnRow_, 0, int(rows_.size()) - 1);
        emit currentRowChanged(current_);
        emit rowsChanged(-1);
    }
}

void LiveTable::post()
{
    requireOpen();
    if (state_ == State::Browse)
        return;
    storePending();
    const int row = editRow_;
    editRow_ = -1;
    setState(State::Browse);
    emit model_->dataChanged(model_->index(row, 0), model_->index(row, int(columns_.size()) - 1));
    emit rowsChanged(row);
    if (afterPost_)
        afterPost_(*this);
}

void LiveTable::storePending()
{
    const QSqlRecord shape = model_->record();
    QStringList names;
    QVariantList values;
    for (int c = 0; c < columns_.size(); ++c) {
        if (!changed_[c])
            continue;
        QVariant v = pending_[c];
        const QMetaType type = shape.field(c).metaType();
        if (type.id() != QMetaType::QString && v.metaType() != type) {
            // A grid hands typed text to a number or time column.
            if (v.toString().trimmed().isEmpty()) {
                v = QVariant(type);
            } else if (!v.convert(type)) {
                throw Error(QStringLiteral("'%1' is not a valid value for %2.%3")
                                .arg(pending_[c].toString(), table_, columns_[c]));
            }
        }
        names << quoted(columns_[c]);
        values << v;
    }

    quint64 key = rows_[editRow_].key;
    if (state_ == State::Edit) {
        if (!names.isEmpty()) {
            QStringList sets;
            for (const QString& n : names)
                sets << n + QStringLiteral(" = ?");
            values << keyText(key);
            QSqlQuery q = run(db_, QStringLiteral("UPDATE %1 SET %2 WHERE %3")
                                       .arg(quoted(table_), sets.join(QStringLiteral(", ")), keyCondition()),
                              values);
            if (q.numRowsAffected() == 0)
                throw Error(QStringLiteral("%1: the row was deleted by another user").arg(table_));
            commitAndContinue(db_);
        }
    } else {
        QString statement = names.isEmpty()
            ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(quoted(table_))
            : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                  .arg(quoted(table_), names.join(QStringLiteral(", ")),
                       QStringList(names.size(), QStringLiteral("?")).join(QStringLiteral(", ")));
        QSqlQuery q = run(db_, statement + QStringLiteral(" RETURNING ") + keySelectExpression(), values);
        if (!q.next())
            throw Error(QStringLiteral("%1: the new row was not stored").arg(table_));
        key = parseKey(q.value(0).toString());
        keys_.insert(key);
        commitAndContinue(db_);
    }

    // Values the database sets itself (a timestamp, a next position) show at once.
    Row fresh = readRow(key);
    if (fresh.key == 0)
        throw Error(QStringLiteral("%1: the row was deleted by another user").arg(table_));
    rows_[editRow_] = fresh;
}

LiveTable::Row LiveTable::readRow(quint64 key) const
{
    QSqlQuery q = run(db_, QStringLiteral("SELECT %1 FROM %2 WHERE %3").arg(selectList(), quoted(table_), keyCondition()),
                      {keyText(key)});
    Row row;
    if (!q.next())
        return row;
    row.key = key;
    for (int c = 0; c < columns_.size(); ++c)
        row.values << q.value(c + 1);
    return row;
}

void LiveTable::setScope(const QString& column, qint64 value)
{
    scopeColumn_ = column.toUpper();
    scopeValue_ = value;
}

QString LiveTable::scopeCondition() const
{
    return scopeColumn_.isEmpty() ? QString() : QStringLiteral("%1 = %2").arg(quoted(scopeColumn_)).arg(scopeValue_);
}

QString LiveTable::where(const QString& conditions) const
{
    QStringList all;
    if (!scopeColumn_.isEmpty())
        all << scopeCondition();
    if (!conditions.isEmpty())
        all << conditions;
    return all.isEmpty() ? QString() : QStringLiteral(" WHERE ") + all.join(QStringLiteral(" AND "));
}

QString LiveTable::selectList() const
{
    QStringList list{keySelectExpression()};
    for (const QString& c : columns_)
        list << quoted(c);
    return list.join(QStringLiteral(", "));
}

void LiveTable::deleteCurrent()
{
    requireRows();
    if (state_ == State::Insert) {
        cancel();
        return;
    }
    if (state_ == State::Edit)
        cancel();
    if (rows_.isEmpty())
        throw Error(QStringLiteral("Cannot perform this operation on an empty dataset (%1)").arg(table_));
    const int row = current_;
    run(db_, QStringLiteral("DELETE FROM %1 WHERE %2").arg(quoted(table_), keyCondition()), {keyText(rows_[row].key)});
    commitAndContinue(db_);
    model_->beginRemoveRows(QModelIndex(), row, row);
    keys_.remove(rows_[row].key);
    rows_.removeAt(row);
    model_->endRemoveRows();
    current_ = rows_.isEmpty() ? -1 : std::min(row, int(rows_.size()) - 1);
    emit currentRowChanged(current_);
    emit rowsChanged(-1);
}

QString LiveTable::orderBy() const
{
    // The locator settles ties, so every reading of the table, whole or in
    // part, puts rows with equal sort values in one and the same order.
    if (sort_.isEmpty())
        return QString();
    return QStringLiteral(" ORDER BY %1, RDB$DB_KEY").arg(quoted(columns_[fieldIndex(sort_)]));
}

QList<LiveTable::Row> LiveTable::readAllRows() const
{
    QSqlQuery q = run(db_, QStringLiteral("SELECT %1 FROM %2").arg(selectList(), quoted(table_)) + where() + orderBy());
    QList<Row> rows;
    while (q.next()) {
        Row row;
        row.key = parseKey(q.value(0).toString());
        row.values.reserve(columns_.size());
        for (int c = 0; c < columns_.size(); ++c)
            row.values << q.value(c + 1);
        rows.append(std::move(row));
    }
    return rows;
}

void LiveTable::reload()
{
    QList<Row> rows = readAllRows();
    QSet<quint64> keys;
    keys.reserve(rows.size());
    for (const Row& row : rows)
        keys.insert(row.key);
    model_->beginResetModel();
    rows_.swap(rows);
    keys_.swap(keys);
    rowsRead_ = true;
    model_->endResetModel();
}

// A re-read of rows nobody has looked at yet: they will be read fresh when
// someone does, so only the news goes out.
void LiveTable::rowsStillUnread()
{
    emit rowsChanged(-1);
    if (afterRefresh_)
        afterRefresh_(*this);
    emit refreshed();
}

void LiveTable::afterRowsReread(int oldCurrent)
{
    current_ = rows_.isEmpty() ? -1 : std::clamp(oldCurrent, 0, int(rows_.size()) - 1);
    emit currentRowChanged(current_);
    emit rowsChanged(-1);
    if (afterRefresh_)
        afterRefresh_(*this);
    emit refreshed();
}

void LiveTable::refresh()
{
    requireOpen();
    if (!rowsRead_) {
        rowsStillUnread();
        return;
    }
    leaveRow();
    const int old = current_;
    reload();
    afterRowsReread(old);
}

void LiveTable::setSortColumn(const QString& column)
{
    requireOpen();
    const int c = requireColumn(column);
    if (!rowsRead_) {
        sort_ = columns_[c];
        rowsStillUnread();
        return;
    }
    leaveRow();
    sort_ = columns_[c];
    const int old = current_;
    reload();
    afterRowsReread(old);
}

void LiveTable::setAfterPost(std::function<void(LiveTable&)> hook) { afterPost_ = std::move(hook); }
void LiveTable::setAfterRefresh(std::function<void(LiveTable&)> hook) { afterRefresh_ = std::move(hook); }

int LiveTable::sortedPosition(const Row& row) const
{
    if (sort_.isEmpty())
        return int(rows_.size());
    const int c = fieldIndex(sort_);
    const auto at = std::upper_bound(rows_.begin(), rows_.end(), row, [c](const Row& a, const Row& b) {
        const int order = compareValues(a.values[c], b.values[c]);
        return order < 0 || (order == 0 && a.key < b.key);
    });
    return int(at - rows_.begin());
}

void LiveTable::refreshRowsMatching(const QStringList& columns, const QVariantList& values,
                                    const QString& dropColumn, const QVariant& dropBelow)
{
    requireOpen();
    if (!rowsRead_) {
        rowsStillUnread();
        return;
    }
    leaveRow();
    if (!dropColumn.isEmpty())
        dropRowsBelow(requireColumn(dropColumn), dropBelow);
    if (columns.isEmpty()) {
        afterRowsReread(current_);
        return;
    }
    QStringList conditions;
    for (const QString& column : columns)
        conditions << quoted(columns_[requireColumn(column)]) + QStringLiteral(" IS NOT DISTINCT FROM ?");
    QSqlQuery q = run(db_, QStringLiteral("SELECT %1 FROM %2").arg(selectList(), quoted(table_))
                               + where(conditions.join(QStringLiteral(" AND "))),
                      values);
    QList<Row> fresh;
    while (q.next()) {
        Row row;
        row.key = parseKey(q.value(0).toString());
        for (int c = 0; c < columns_.size(); ++c)
            row.values << q.value(c + 1);
        fresh.append(std::move(row));
    }
    mergeFreshRows(std::move(fresh));
}

QString LiveTable::rowSelectList() const { return selectList(); }

void LiveTable::refreshRows(const QList<QVariantList>& rows)
{
    requireOpen();
    if (!rowsRead_) {
        rowsStillUnread();
        return;
    }
    leaveRow();
    QList<Row> fresh;
    for (const QVariantList& values : rows) {
        Row row;
        row.key = parseKey(values.value(0).toString());
        row.values = values.mid(1);
        if (row.values.size() != columns_.size())
            throw Error(QStringLiteral("%1: a row read elsewhere does not have the table's columns").arg(table_));
        fresh.append(std::move(row));
    }
    mergeFreshRows(std::move(fresh));
}

void LiveTable::mergeFreshRows(QList<Row> fresh)
{
    // Only rows this table holds already need finding; a player seen again
    // sits near the end of the LASTSEEN order, so the search runs from the back.
    QSet<quint64> held;
    for (const Row& row : fresh)
        if (keys_.contains(row.key))
            held.insert(row.key);
    for (int r = int(rows_.size()) - 1; r >= 0 && !held.isEmpty(); --r) {
        if (held.remove(rows_[r].key)) {
            model_->beginRemoveRows(QModelIndex(), r, r);
            rows_.removeAt(r);
            model_->endRemoveRows();
        }
    }
    for (Row& row : fresh) {
        keys_.insert(row.key);
        const int at = sortedPosition(row);
        model_->beginInsertRows(QModelIndex(), at, at);
        rows_.insert(at, std::move(row));
        model_->endInsertRows();
    }
    afterRowsReread(current_);
}

void LiveTable::dropRowsBelow(int c, const QVariant& bound)
{
    auto below = [&](const Row& row) {
        return !row.values[c].isNull() && compareValues(row.values[c], bound) < 0;
    };
    if (fieldIndex(sort_) == c) {
        // In this column's order the rows to drop form one run after the NULLs.
        int from = 0;
        while (from < rows_.size() && rows_[from].values[c].isNull())
            ++from;
        int to = from;
        while (to < rows_.size() && below(rows_[to]))
            ++to;
        if (to > from) {
            for (int r = from; r < to; ++r)
                keys_.remove(rows_[r].key);
            model_->beginRemoveRows(QModelIndex(), from, to - 1);
            rows_.remove(from, to - from);
            model_->endRemoveRows();
        }
        return;
    }
    QList<Row> kept;
    for (const Row& row : rows_) {
        if (below(row))
            keys_.remove(row.key);
        else
            kept.append(row);
    }
    if (kept.size() != rows_.size()) {
        model_->beginResetModel();
        rows_.swap(kept);
        model_->endResetModel();
    }
}

void LiveTable::visitStoredRows(const QStringList& columns, const StoredRowVisitor& visit) const
{
    requireOpen();
    QList<int> indexes;
    for (const QString& column : columns)
        indexes << requireColumn(column);
    QVariantList values;
    if (rowsRead_) {
        for (int r = 0; r < rows_.size(); ++r) {
            values.clear();
            for (int c : indexes)
                values << rows_[r].values[c];
            visit(r, rows_[r].key, values);
        }
        return;
    }
    QStringList list{keySelectExpression()};
    for (int c : indexes)
        list << quoted(columns_[c]);
    QSqlQuery q = run(db_, QStringLiteral("SELECT %1 FROM %2").arg(list.join(QStringLiteral(", ")), quoted(table_))
                               + where() + orderBy());
    for (int r = 0; q.next(); ++r) {
        values.clear();
        for (int i = 0; i < indexes.size(); ++i)
            values << q.value(i + 1);
        visit(r, parseKey(q.value(0).toString()), values);
    }
}

QVariantList LiveTable::storedValues(quint64 key, const QStringList& columns) const
{
    requireOpen();
    QStringList list;
    for (const QString& column : columns)
        list << quoted(columns_[requireColumn(column)]);
    QSqlQuery q = run(db_, QStringLiteral("SELECT %1 FROM %2 WHERE %3")
                               .arg(list.join(QStringLiteral(", ")), quoted(table_), keyCondition()),
                      {keyText(key)});
    QVariantList values;
    if (q.next())
        for (int i = 0; i < columns.size(); ++i)
            values << q.value(i);
    return values;
}

void LiveTable::storeValueAt(int row, quint64 key, const QString& column, const QVariant& value)
{
    requireOpen();
    if (rowsRead_) {
        moveTo(row);
        edit();
        setValue(column, value);
        post();
        return;
    }
    QSqlQuery q = run(db_, QStringLiteral("UPDATE %1 SET %2 = ? WHERE %3")
                               .arg(quoted(table_), quoted(columns_[requireColumn(column)]), keyCondition()),
                      {value, keyText(key)});
    if (q.numRowsAffected() == 0)
        throw Error(QStringLiteral("%1: the row was deleted by another user").arg(table_));
    commitAndContinue(db_);
    pendingCurrent_ = row;
    emit rowsChanged(row);
    if (afterPost_)
        afterPost_(*this);
}

}  // namespace palisor
