#pragma once

#include "store/history.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QList>

namespace palisor {

// The penalty log as the History window's grid shows it: one row per event,
// in the order given (newest first), read-only.
class PenaltyModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    static QStringList Titles();   // the grid's and the CSV file's column titles

    void setEvents(QList<PenaltyEvent> events);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QList<PenaltyEvent> events_;
};

// The events as a CSV file for a spreadsheet: UTF-8, a title line, each field
// as CsvField makes it (quoted as RFC 4180 asks, an apostrophe in front of one
// that begins like a formula), CR LF after every line.
QByteArray PenaltiesCsv(const QList<PenaltyEvent>& events);
// Its title line and one event's line, for writing a file a piece at a time.
QByteArray PenaltiesCsvTitle();
QByteArray PenaltyCsvLine(const PenaltyEvent& event);

}  // namespace palisor
