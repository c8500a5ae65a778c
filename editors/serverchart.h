#pragma once

#include "store/history.h"

#include <QChartView>
#include <QList>
#include <QPointF>
#include <QStringList>

class QAreaSeries;
class QDateTimeAxis;
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

// The Server tab's chart: players on the left axis, median ping on the
// right, map changes marked and, while there are few, named.
class TServerChart : public QChartView {
    Q_OBJECT
public:
    explicit TServerChart(QWidget* parent = nullptr);

    // Draws the stretches between from and to; returns what it drew.
    ServerSeries ShowStretches(const QList<SampleStretch>& stretches, const QDateTime& from, const QDateTime& to);

    QAreaSeries* Players;
    QAreaSeries* MedianPing;
    QScatterSeries* MapChanges;
    QDateTimeAxis* TimeAxis;
    QValueAxis* PlayerAxis;
    QValueAxis* PingAxis;

    // A period is read in this many stretches: about one per pixel.
    static constexpr int Stretches = 1000;
    // Map names are written beside their marks up to this many changes.
    static constexpr int NamedChanges = 60;

private:
    void placeMapNames();

    QStringList mapNames_;
    QList<QGraphicsSimpleTextItem*> nameItems_;
};

}  // namespace palisor
