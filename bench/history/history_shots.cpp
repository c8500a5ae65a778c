// Pictures of the History window over a simulated week, for looking at:
//   xvfb-run -a build/bench/history/palisor-history-shots OUT_DIR
// writes history-penalties.png, history-server-week.png and
// history-server-day.png. Runs on any Qt platform (offscreen too).
#include "bench/history/historyfill.h"
#include "core/timing.h"
#include "editors/formhistory.h"
#include "tests/support/db/tempdatabase.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QTabWidget>
#include <cstdio>

using namespace palisor;

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT_DIR\n", argv[0]);
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("PALISOR_SCHEMA"))
        qputenv("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QDir().mkpath(out.path());

    test::TempDatabase db;
    auto data = db.createDataModule();
    QSqlDatabase connection = data->database();
    const QDateTime end = now();
    const int samples = bench::FillSamples(connection, end, 7);
    const int events = bench::FillEvents(connection, end);

    TformHistory window(*data);
    QEventLoop shown;
    QObject::connect(&window, &TformHistory::PenaltiesShown, &shown, &QEventLoop::quit);
    window.RefreshPenalties();
    shown.exec();
    window.show();
    const auto shoot = [&](int tab, int period, const char* file) {
        window.Tabs->setCurrentIndex(tab);
        window.cbPeriod->setCurrentIndex(period);
        window.RefreshServer();
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        const QString path = out.filePath(QString::fromLatin1(file));
        if (!window.grab().save(path))
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::printf("%s\n", qPrintable(path));
    };
    shoot(0, 1, "history-penalties.png");
    shoot(1, 1, "history-server-week.png");
    shoot(1, 0, "history-server-day.png");
    std::printf("%d samples, %d events\n", samples, events);
    return 0;
}
