#include "editors/serverchart.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QDateTime>
#include <QGraphicsSimpleTextItem>
#include <QLineSeries>
#include <QScatterSeries>
#include <QToolTip>
#include <QValueAxis>
#include <algorithm>
#include <cmath>

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

AxisScale RoundScale(qreal highest, int mostTicks)
{
    const qreal top = std::max<qreal>(highest, 1);
    qreal power = std::pow(10.0, std::floor(std::log10(top / std::max(mostTicks, 1))));
    for (;; power *= 10) {
        for (const qreal factor : {1.0, 2.0, 5.0}) {
            const qreal step = std::max<qreal>(1, factor * power);
            const qreal steps = std::ceil(top / step - 1e-9);
            if (steps <= mostTicks)
                return {steps * step, step};
        }
    }
}

QList<QDateTime> TimeTicks(const QDateTime& from, const QDateTime& to)
{
    const QDateTime first = from.toLocalTime();
    const QDateTime last = to.toLocalTime();
    const qint64 days = first.daysTo(last);
    QList<QDateTime> ticks;
    for (QDate day = first.date(); day <= last.date(); day = day.addDays(1)) {
        QList<QDateTime> candidates;
        if (days <= 1) {
            for (int hour = 0; hour < 24; hour += 2) {
                const QDateTime at(day, QTime(hour, 0));
                if (at.time().hour() == hour)   // not skipped by the clocks going forward
                    candidates << at;
            }
        } else if (days <= 7 || day.toJulianDay() % 3 == 0) {
            candidates << day.startOfDay();
        }
        for (const QDateTime& at : candidates) {
            if (at >= first && at <= last)
                ticks << at;
        }
    }
    return ticks;
}

QString TimeTickLabel(const QDateTime& tick, const QDateTime& from, const QDateTime& to)
{
    if (from.daysTo(to) > 1)
        return tick.toString(QStringLiteral("ddd d MMM"));
    return tick.time() == QTime(0, 0) ? tick.toString(QStringLiteral("d MMM")) : tick.toString(QStringLiteral("HH:mm"));
}

QList<bool> NamesThatFit(const QList<qreal>& xs, qreal thickness, const QList<qreal>& lengths, qreal left,
                         qreal right, qreal room)
{
    QList<bool> fit;
    qreal free = left;
    for (qsizetype i = 0; i < xs.size(); ++i) {
        const qreal begin = xs[i] - thickness / 2;
        const bool fits = begin >= free && xs[i] + thickness / 2 <= right && lengths.value(i) <= room;
        if (fits)
            free = xs[i] + thickness / 2 + 1;
        fit << fits;
    }
    return fit;
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

    TimeAxis = new QCategoryAxis(chart);
    TimeAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    PlayerAxis = new QValueAxis(chart);
    PlayerAxis->setTitleText(QStringLiteral("Players"));
    PingAxis = new QValueAxis(chart);
    PingAxis->setTitleText(QStringLiteral("Median ping (ms)"));
    for (QValueAxis* axis : {PlayerAxis, PingAxis}) {
        axis->setLabelFormat(QStringLiteral("%d"));
        axis->setTickType(QValueAxis::TicksDynamic);
        axis->setTickAnchor(0);
    }
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

    for (const QString& label : TimeAxis->categoriesLabels())
        TimeAxis->remove(label);
    TimeAxis->setStartValue(qreal(from.toMSecsSinceEpoch()));
    for (const QDateTime& tick : TimeTicks(from, to))
        TimeAxis->append(TimeTickLabel(tick, from, to), qreal(tick.toMSecsSinceEpoch()));
    TimeAxis->setRange(qreal(from.toMSecsSinceEpoch()), qreal(to.toMSecsSinceEpoch()));
    const auto scale = [](QValueAxis* axis, const AxisScale& round) {
        axis->setRange(0, round.top);
        axis->setTickInterval(round.step);
    };
    scale(PlayerAxis, RoundScale(series.topPlayers, 8));
    qreal peakPing = 0;
    for (const QPointF& p : series.highestPing)
        peakPing = std::max(peakPing, p.y());
    scale(PingAxis, RoundScale(std::max<qreal>(50, peakPing * 1.1), 8));
    placeMapNames();
    return series;
}

void TServerChart::placeMapNames()
{
    qDeleteAll(nameItems_);
    nameItems_.clear();
    const QList<QPointF> marks = MapChanges->points();
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.8);
    const QFontMetricsF metrics(small);
    QList<qreal> xs;
    QList<qreal> lengths;
    for (qsizetype i = 0; i < marks.size() && i < mapNames_.size(); ++i) {
        xs << chart()->mapToPosition(marks[i], MapChanges).x();
        lengths << metrics.horizontalAdvance(mapNames_[i]) + 5;
    }
    const QRectF plot = chart()->plotArea();
    const qreal room = marks.isEmpty() ? 0 : plot.bottom() - chart()->mapToPosition(marks[0], MapChanges).y();
    const QList<bool> fit = NamesThatFit(xs, metrics.height(), lengths, plot.left(), plot.right(), room);
    for (qsizetype i = 0; i < fit.size(); ++i) {
        if (!fit[i])
            continue;
        auto* item = new QGraphicsSimpleTextItem(mapNames_[i], chart());
        item->setFont(small);
        item->setBrush(MapChanges->color().darker(140));
        // Written downwards from just below the mark.
        item->setRotation(90);
        const QPointF at = chart()->mapToPosition(marks[i], MapChanges);
        item->setPos(at + QPointF(metrics.height() / 2, 5));
        nameItems_ << item;
    }
}

}  // namespace palisor
