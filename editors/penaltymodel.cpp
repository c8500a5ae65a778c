#include "editors/penaltymodel.h"

namespace palisor {
namespace {

enum Column { Time, Kind, Client, Name, Address, Reason, Source, ColumnCount };

QString timeText(const QDateTime& at) { return at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")); }

QString field(const PenaltyEvent& e, int column)
{
    switch (column) {
    case Time: return timeText(e.occurred);
    case Kind: return e.kind;
    case Client: return e.clientId;
    case Name: return e.name;
    case Address: return e.address;
    case Reason: return e.reason;
    case Source: return e.source;
    default: return QString();
    }
}

}  // namespace

QStringList PenaltyModel::Titles()
{
    return {QStringLiteral("Time"),    QStringLiteral("Kind"),   QStringLiteral("Client"), QStringLiteral("Name"),
            QStringLiteral("Address"), QStringLiteral("Reason"), QStringLiteral("Source")};
}

void PenaltyModel::setEvents(QList<PenaltyEvent> events)
{
    beginResetModel();
    events_ = std::move(events);
    endResetModel();
}

int PenaltyModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : int(events_.size()); }
int PenaltyModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant PenaltyModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || role != Qt::DisplayRole || index.row() >= events_.size())
        return QVariant();
    // One line per event in the grid; the file keeps a reason's line ends.
    QString text = field(events_[index.row()], index.column());
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" ")).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

QVariant PenaltyModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return Titles().value(section);
    return section + 1;
}

QByteArray PenaltiesCsvTitle() { return (PenaltyModel::Titles().join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8(); }

QByteArray PenaltyCsvLine(const PenaltyEvent& event)
{
    QStringList fields;
    for (int column = 0; column < ColumnCount; ++column)
        fields << CsvField(field(event, column));
    return (fields.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
}

QByteArray PenaltiesCsv(const QList<PenaltyEvent>& events)
{
    QByteArray csv = PenaltiesCsvTitle();
    for (const PenaltyEvent& e : events)
        csv += PenaltyCsvLine(e);
    return csv;
}

}  // namespace palisor
