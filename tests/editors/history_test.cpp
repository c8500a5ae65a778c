// The History window over a real database: the penalty log's filters and
// CSV file, and the chart's series for known samples.
#include "core/timing.h"
#include "editors/formhistory.h"
#include "editors/penaltymodel.h"
#include "editors/serverchart.h"
#include "store/sqltext.h"
#include "tests/editors/editorfixture.h"

#include <QAreaSeries>
#include <QCategoryAxis>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPushButton>
#include <QScatterSeries>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>
#include <QTemporaryDir>
#include <QValueAxis>

using namespace palisor;
using namespace palisor::test;

namespace {

class HistoryTest : public EditorTest {
protected:
    ~HistoryTest() override { setClockFunction({}); }

    static QList<QPointF> Points(QLineSeries* series) { return series->points(); }
    // The window reads the log on a thread of its own: waits for its count-th report.
    static void WaitFor(QSignalSpy& reports, qsizetype count)
    {
        while (reports.size() < count)
            ASSERT_TRUE(reports.wait(10'000)) << "no report from the History window";
    }
    static qreal X(const QDateTime& at) { return qreal(at.toMSecsSinceEpoch()); }
};

TEST_F(HistoryTest, CsvQuotesWhatNeedsItIsUtf8AndNeverHoldsAFormula)
{
    const QDateTime at(QDate(2026, 3, 4), QTime(21, 5, 9));
    const QByteArray csv = PenaltiesCsv({
        {at, "KICK", "07", "Sgt. \"Rock\"", "198.51.100.42", "Wall hack, reported", "admin", ""},
        {at.addSecs(60), "BAN", "", QString::fromUtf8("K\u00fcbelwagen"), "203.0.113.5", "Spam\r\nagain", "import", ""},
        {at, "KICK", "", "=HYPERLINK(\"x\")", "", "=SUM(1,2)", "admin", ""},
        {at, "KICK", "", "+1", "-2", "@A1", "\tx", ""},
        {at, "KICK", "", "\r=1", "a=1", "", "", ""},
    });
    EXPECT_EQ(csv, QByteArray("Time,Kind,Client,Name,Address,Reason,Source\r\n"
                              "2026-03-04 21:05:09,KICK,07,\"Sgt. \"\"Rock\"\"\",198.51.100.42,\"Wall hack, reported\",admin\r\n"
                              "2026-03-04 21:06:09,BAN,,K\xc3\xbc" "belwagen,203.0.113.5,\"Spam\r\nagain\",import\r\n"
                              "2026-03-04 21:05:09,KICK,,\"'=HYPERLINK(\"\"x\"\")\",,\"'=SUM(1,2)\",admin\r\n"
                              "2026-03-04 21:05:09,KICK,,'+1,'-2,'@A1,'\tx\r\n"
                              "2026-03-04 21:05:09,KICK,,\"'\r=1\",a=1,,\r\n"));
}

TEST_F(HistoryTest, PenaltiesAreFilteredByTextAndKindAndExportedAsShown)
{
    const QString kubel = QString::fromUtf8("K\u00fcbelwagen");
    data->BanPlayer(kubel, "203.0.113.5", Penalty{EventSource::ServerRequest, "SERVER REQUEST", "02"});
    data->RecordEvent(EventKind::Kick, Penalty{EventSource::Monitor, "BANNED IP", "02"}, kubel, "203.0.113.5");
    data->RecordEvent(EventKind::Kick, Penalty{EventSource::Admin, "Spam, again", "12"}, "Spammer", "192.0.2.7");

    data->RecordEvent(EventKind::Kick, Penalty{}, QString::fromUtf8("Kr\u00f8ll \u20ac"), "192.0.2.8");

    TformHistory window(*data);
    QSignalSpy shown(&window, &TformHistory::PenaltiesShown);
    QSignalSpy exported(&window, &TformHistory::ExportFinished);
    WhileOpen(window, [&] {
        WaitFor(shown, 1);
        EXPECT_EQ(window.EventGrid->model()->rowCount(), 4);
        EXPECT_EQ(window.EventGrid->model()->index(1, 3).data().toString(), "Spammer");
        // Outside Latin-1, as the log cannot hold it: no match for its '?'.
        window.edFilter->setText(QString::fromUtf8("\u20ac"));
        WaitFor(shown, 2);
        EXPECT_EQ(window.EventGrid->model()->rowCount(), 0);
        window.edFilter->clear();
        QTest::keyClicks(window.edFilter, "belw");
        WaitFor(shown, 3);
        EXPECT_EQ(window.EventGrid->model()->rowCount(), 2);
        window.cbKind->setCurrentIndex(window.cbKind->findData(EventKind::Ban));
        WaitFor(shown, 4);
        ASSERT_EQ(window.EventGrid->model()->rowCount(), 1);
        EXPECT_EQ(window.EventGrid->model()->index(0, 6).data().toString(), "server request");

        QTemporaryDir folder;
        const QString path = folder.filePath("penalties.csv");
        dialogs.answerSaveFile(path);
        window.btnExport->click();
        WaitFor(exported, 1);
        EXPECT_EQ(dialogs.lastCall().request.initialName, "Penalties.csv");
        EXPECT_EQ(ReadBytes(path), PenaltiesCsv(ReadEvents(data->database(), "belw", EventKind::Ban)));
        EXPECT_TRUE(ReadBytes(path).contains("K\xc3\xbc" "belwagen,203.0.113.5,SERVER REQUEST,server request\r\n"));
        EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();

        dialogs.answerSaveFile(folder.filePath("missing/penalties.csv"));
        window.btnExport->click();
        WaitFor(exported, 2);
        EXPECT_TRUE(window.btnExport->isEnabled());
        ASSERT_EQ(errors.size(), 1);
        EXPECT_TRUE(errors[0].startsWith("Cannot write " + folder.filePath("missing/penalties.csv"))) << errors[0].toStdString();
    });
}

TEST_F(HistoryTest, TheGridShowsTheNewestEventsAndTheExportAllOfThem)
{
    QSqlQuery fill(data->database());
    ASSERT_TRUE(fill.exec(QStringLiteral("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < %1) DO BEGIN "
                                         "INSERT INTO EVENTS (KIND, NAME, SOURCE) VALUES ('BAN', 'Imported' || :I, "
                                         "'import'); I = I + 1; END END")
                              .arg(TformHistory::ShownEvents + 3)));
    // The window reads on an attachment of its own, for each look.
    QSqlDatabase connection = data->database();
    const auto attachments = [&connection] {
        sql::commitAndContinue(connection);
        QSqlQuery count = sql::run(connection, "SELECT COUNT(*) FROM MON$ATTACHMENTS");
        return count.next() ? count.value(0).toInt() : -1;
    };
    const int before = attachments();
    {
        TformHistory window(*data);
        QSignalSpy shown(&window, &TformHistory::PenaltiesShown);
        QSignalSpy exported(&window, &TformHistory::ExportFinished);
        WhileOpen(window, [&] {
            WaitFor(shown, 1);
            EXPECT_EQ(window.EventGrid->model()->rowCount(), TformHistory::ShownEvents);
            EXPECT_EQ(window.lbEvents->text(), QStringLiteral("The newest 2000 of 2003 events"));
            QTemporaryDir folder;
            dialogs.answerSaveFile(folder.filePath("all.csv"));
            window.btnExport->click();
            WaitFor(exported, 1);
            EXPECT_EQ(ReadBytes(folder.filePath("all.csv")).count("\r\n"), TformHistory::ShownEvents + 4);
            // Idle, it keeps none: a maintenance cycle finds the file free.
            EXPECT_EQ(attachments(), before);
        });
    }
    EXPECT_EQ(attachments(), before);
}

TEST_F(HistoryTest, ServerChartShowsEachPollsPlayersPingAndMapChanges)
{
    const QDateTime now(QDate(2026, 3, 4), QTime(21, 0));
    setClockFunction([now] { return now; });
    const QVariant none(QMetaType::fromType<int>());
    const QDateTime a = now.addSecs(-7200), b = now.addSecs(-3600), c = now.addSecs(-60);
    data->RecordSample({now.addDays(-2), 30, 32, "obj_team1", 90, 99});   // before the day
    data->RecordSample({a, 12, 32, "obj_team1", 55, 80});
    data->RecordSample({b, 0, 32, "obj_team1", none, none});
    data->RecordSample({c, 20, 24, "mohdm6", 70, 150});

    TformHistory window(*data);
    WhileOpen(window, [&] {
        TServerChart& chart = *window.ServerChart;
        EXPECT_EQ(Points(chart.Players->lowerSeries()), QList<QPointF>({{X(a), 12}, {X(b), 0}, {X(c), 20}}));
        EXPECT_EQ(Points(chart.Players->upperSeries()), Points(chart.Players->lowerSeries()));
        EXPECT_EQ(Points(chart.MedianPing->upperSeries()), QList<QPointF>({{X(a), 55}, {X(c), 70}}));
        EXPECT_EQ(chart.MapChanges->points(), QList<QPointF>({{X(c), 32}}));
        EXPECT_EQ(chart.PlayerAxis->max(), 35);
        EXPECT_EQ(chart.PlayerAxis->tickInterval(), 5);
        EXPECT_EQ(chart.PingAxis->max(), 80);
        const QStringList hours = chart.TimeAxis->categoriesLabels();
        ASSERT_EQ(hours.size(), 12);
        EXPECT_EQ(hours.mid(0, 3), QStringList({"22:00", "4 Mar", "02:00"}));
        EXPECT_EQ(chart.TimeAxis->endValue(hours[1]), X(QDateTime(QDate(2026, 3, 4), QTime(0, 0))));
        EXPECT_EQ(window.lbSamples->text(), "3 polls, at most 20 players");

        // The week is read from ten-minute spans: one point each here.
        window.cbPeriod->setCurrentIndex(1);
        EXPECT_EQ(Points(chart.Players->upperSeries()).size(), 4);
        EXPECT_EQ(Points(chart.Players->upperSeries()).first(), QPointF(X(now.addDays(-2)), 30));
        EXPECT_EQ(window.lbSamples->text(), "4 polls, at most 30 players");
        EXPECT_EQ(chart.TimeAxis->categoriesLabels().first(), "Thu 26 Feb");
    });
    EXPECT_TRUE(errors.isEmpty()) << errors.join('\n').toStdString();
}

TEST_F(HistoryTest, AxesStepByRoundValuesAndMapNamesOnlyWhereTheyFit)
{
    const auto scale = [](qreal highest) {
        const AxisScale s = RoundScale(highest, 8);
        return QPointF(s.top, s.step);
    };
    EXPECT_EQ(scale(1), QPointF(1, 1));
    EXPECT_EQ(scale(18), QPointF(20, 5));
    EXPECT_EQ(scale(64), QPointF(70, 10));
    EXPECT_EQ(scale(1234), QPointF(1400, 200));

    const QDateTime from(QDate(2026, 3, 1), QTime(7, 13));
    EXPECT_EQ(TimeTicks(from, from.addDays(30)).size(), 10);
    for (const QDateTime& tick : TimeTicks(from, from.addDays(30)))
        EXPECT_EQ(tick.time(), QTime(0, 0));

    // Names 10 wide written downwards, 60 of room below the marks.
    EXPECT_EQ(NamesThatFit({5, 20, 25, 40, 95, 100}, 10, {50, 50, 50, 70, 50, 50}, 0, 100, 60),
              QList<bool>({true, true, false, false, true, false}));
}

}  // namespace
