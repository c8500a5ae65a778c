#include "editors/serverchart.h"

#include <QAreaSeries>
#include <QDateTimeAxis>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>

namespace palisor {
namespace {

QAreaSeries* band(const QString& name, const QColor& color, QObject* parent)
{
    auto* area = new QAreaSeries(new QLineSeries(parent), new QLineSeries(parent));
    area->setParent(parent);
    area->setName(name);
    area->setPen(QPen(color, 1.5));
    QColor fill = color;
    fill.setAlpha(110);
    area->setBrush(fill);
    return area;
}

}  // namespace

ServerSeries ServerChartSeries(const QList<SampleStretch>& stretches)
{
    ServerSeries series;
    int maxPlayers = 0;
    for (const SampleStretch& s : stretches) {
        const qreal x = qreal(s.first.toMSecsSinceEpoch());
        series.fewestPlayers.append(QPointF(x, s.fewestPlayers));
        series.mostPlayers.append(QPointF(x, s.mostPlayers));
        if (!s.lowestPing.isNull()) {
            series.lowestPing.append(QPointF(x, s.lowestPing.toInt()));
            series.highestPing.append(QPointF(x, s.highestPing.toInt()));
        }
        if (s.mapChanges > 0) {
            series.mapChanges.append(QPointF(qreal(s.mapChanged.toMSecsSinceEpoch()), 0));
            series.mapNames.append(s.newMap);
        }
        series.polls += s.polls;
        series.peakPlayers = std::max(series.peakPlayers, s.mostPlayers);
        maxPlayers = std::max(maxPlayers, s.maxPlayers);
    }
    series.topPlayers = std::max({maxPlayers, series.peakPlayers, 1});
    for (QPointF& mark : series.mapChanges)
        mark.setY(series.topPlayers);
    return series;
}

TServerChart::TServerChart(QWidget* parent) : QChartView(new QChart, parent)
{
    QChart* chart = this->chart();
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));

    Players = band(QStringLiteral("Players"), QColor(0x20, 0x6a, 0xc8), chart);
    MedianPing = band(QStringLiteral("Median ping (ms)"), QColor(0x4c, 0xa0, 0x3c), chart);
    MapChanges = new QScatterSeries(chart);
    MapChanges->setName(QStringLiteral("Map change"));
    MapChanges->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    MapChanges->setMarkerSize(5);
    MapChanges->setColor(QColor(0xd0, 0x70, 0x10));
    MapChanges->setBorderColor(Qt::transparent);
    chart->addSeries(MedianPing);
    chart->addSeries(Players);
    chart->addSeries(MapChanges);

    TimeAxis = new QDateTimeAxis(chart);
    PlayerAxis = new QValueAxis(chart);
    PlayerAxis->setTitleText(QStringLiteral("Players"));
    PlayerAxis->setLabelFormat(QStringLiteral("%d"));
    PingAxis = new QValueAxis(chart);
    PingAxis->setTitleText(QStringLiteral("Median ping (ms)"));
    PingAxis->setLabelFormat(QStringLiteral("%d"));
    chart->addAxis(TimeAxis, Qt::AlignBottom);
    chart->addAxis(PlayerAxis, Qt::AlignLeft);
    chart->addAxis(PingAxis, Qt::AlignRight);
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(Players), static_cast<QAbstractSeries*>(MapChanges)}) {
        s->attachAxis(TimeAxis);
        s->attachAxis(PlayerAxis);
    }
    MedianPing->attachAxis(TimeAxis);
    MedianPing->attachAxis(PingAxis);

    connect(chart, &QChart::plotAreaChanged, this, [this] { placeMapNames(); });
    connect(MapChanges, &QScatterSeries::hovered, this, [this](const QPointF& point, bool state) {
        const qsizetype i = MapChanges->points().indexOf(point);
        if (state && i >= 0 && i < mapNames_.size())
            QToolTip::showText(QCursor::pos(), QDateTime::fromMSecsSinceEpoch(qint64(point.x()))
                                                       .toString(QStringLiteral("yyyy-MM-dd HH:mm "))
                                                   + mapNames_[i]);
    });
}

ServerSeries TServerChart::ShowStretches(const QList<SampleStretch>& stretches, const QDateTime& from,
                                         const QDateTime& to)
{
    const ServerSeries series = ServerChartSeries(stretches);
    Players->lowerSeries()->replace(series.fewestPlayers);
    Players->upperSeries()->replace(series.mostPlayers);
    MedianPing->lowerSeries()->replace(series.lowestPing);
    MedianPing->upperSeries()->replace(series.highestPing);
    MapChanges->replace(series.mapChanges);
    mapNames_ = series.mapNames;

    TimeAxis->setRange(from, to);
    const qint64 days = from.daysTo(to);
    TimeAxis->setFormat(days <= 1 ? QStringLiteral("HH:mm") : QStringLiteral("dd MMM"));
    TimeAxis->setTickCount(days <= 1 ? 13 : (days <= 7 ? int(days) + 1 : 11));
    PlayerAxis->setRange(0, series.topPlayers);
    qreal peakPing = 0;
    for (const QPointF& p : series.highestPing)
        peakPing = std::max(peakPing, p.y());
    PingAxis->setRange(0, std::max<qreal>(50, peakPing * 1.1));
    placeMapNames();
    return series;
}

void TServerChart::placeMapNames()
{
    qDeleteAll(nameItems_);
    nameItems_.clear();
    const QList<QPointF> marks = MapChanges->points();
    if (marks.size() > NamedChanges)
        return;
    for (qsizetype i = 0; i < marks.size() && i < mapNames_.size(); ++i) {
        auto* item = new QGraphicsSimpleTextItem(mapNames_[i], chart());
        QFont small = item->font();
        small.setPointSizeF(small.pointSizeF() * 0.8);
        item->setFont(small);
        item->setBrush(MapChanges->color().darker(140));
        // Written downwards from just below the mark, so neighbours do not overlap.
        item->setRotation(90);
        const QPointF at = chart()->mapToPosition(marks[i], MapChanges);
        item->setPos(at + QPointF(item->boundingRect().height() / 2, 5));
        nameItems_ << item;
    }
}

}  // namespace palisor
