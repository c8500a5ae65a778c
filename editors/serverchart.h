#pragma once

#include "store/history.h"

#include <QChartView>
#include <QList>
#include <QPointF>
#include <QStringList>

class QAreaSeries;
class QCategoryAxis;
class QGraphicsSimpleTextItem;
class QScatterSeries;
class QValueAxis;

namespace palisor {

// What the Server tab draws, x in milliseconds since the epoch, one point
// per stretch of the time axis at its first poll: the fewest and the most
// players of the stretch, and the lowest and the highest median ping, as
// bands (a stretch of one poll is a line); a mark where the map changed.
struct ServerSeries {
    QList<QPointF> fewestPlayers;
    QList<QPointF> mostPlayers;
    QList<QPointF> lowestPing;    // stretches without players have no ping
    QList<QPointF> highestPing;
    QList<QPointF> mapChanges;    // along the top of the player axis
    QStringList mapNames;         // the map changed to at each mark
    int topPlayers = 1;           // the player axis' top: the most the server allowed or had
    int polls = 0;
    int peakPlayers = 0;
};

ServerSeries ServerChartSeries(const QList<SampleStretch>& stretches);

// A value axis from 0 that reaches `highest` in at most mostTicks steps of
// 1, 2 or 5 times a power of ten, its top a whole number of steps.
struct AxisScale {
    qreal top = 1;
    qreal step = 1;
};
AxisScale RoundScale(qreal highest, int mostTicks);

// The time axis' ticks between from and to in local time: every two hours
// on the hour over a day or less, every midnight over a week or less, every
// third midnight beyond.
QList<QDateTime> TimeTicks(const QDateTime& from, const QDateTime& to);
QString TimeTickLabel(const QDateTime& tick, const QDateTime& from, const QDateTime& to);

// Which of the map names, written downwards from their marks at xs (left to
// right) with the given thickness and lengths, fit between left and right
// and within `room` below the marks without touching the name before.
QList<bool> NamesThatFit(const QList<qreal>& xs, qreal thickness, const QList<qreal>& lengths, qreal left,
                         qreal right, qreal room);

// The Server tab's chart: players on the left axis, median ping on the
// right, map changes marked and named where the names fit (pointing at a
// mark tells its name anyway).
class TServerChart : public QChartView {
    Q_OBJECT
public:
    explicit TServerChart(QWidget* parent = nullptr);

    // Draws the stretches between from and to; returns what it drew.
    ServerSeries ShowStretches(const QList<SampleStretch>& stretches, const QDateTime& from, const QDateTime& to);

    QAreaSeries* Players;
    QAreaSeries* MedianPing;
    QScatterSeries* MapChanges;
    QCategoryAxis* TimeAxis;   // in milliseconds since the epoch
    QValueAxis* PlayerAxis;
    QValueAxis* PingAxis;

    // A period is read in this many stretches: about one per pixel.
    static constexpr int Stretches = 1000;

private:
    void placeMapNames();

    QStringList mapNames_;
    QList<QGraphicsSimpleTextItem*> nameItems_;
};

}  // namespace palisor
