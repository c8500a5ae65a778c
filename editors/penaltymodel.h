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

// The events as a CSV file for a spreadsheet: UTF-8, a title line, fields
// quoted as RFC 4180 asks (a field holding a comma, a quote or a line end is
// quoted, its quotes doubled), CR LF after every line. A field that begins
// with = + - @ TAB or CR gets a leading apostrophe, so that a spreadsheet
// shows it as text instead of running it as a formula.
QByteArray PenaltiesCsv(const QList<PenaltyEvent>& events);
// Its title line and one event's line, for writing a file a piece at a time.
QByteArray PenaltiesCsvTitle();
QByteArray PenaltyCsvLine(const PenaltyEvent& event);

}  // namespace palisor
