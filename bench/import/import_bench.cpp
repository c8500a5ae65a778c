// Importing a 100,000-line names-and-addresses file into an empty banned
// list, beside isql-fb inserting the same rows in one transaction into an
// equally empty database: the two figures of one run give the ratio, and the
// binary fails when the import takes more than three times as long.
#include "bench/support/targets.h"
#include "core/dialogs.h"
#include "store/banfiles.h"
#include "editors/formbannedplayers.h"
#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <memory>

using namespace palisor;

namespace {

constexpr int Lines = 100'000;

QApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_import";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        if (qEnvironmentVariableIsEmpty("PALISOR_SCHEMA"))
            qputenv("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
        return new QApplication(argc, argv);
    }();
    return *app;
}

QByteArray Name(int i) { return "Player_" + QByteArray::number(i); }
QByteArray Address(int i)
{
    return "10." + QByteArray::number(i / 65536) + "." + QByteArray::number(i / 256 % 256) + "." +
           QByteArray::number(i % 256);
}

// The files both sides read, made once.
struct Files {
    QTemporaryDir dir;
    QString banList = dir.filePath("Banned.txt");
    QString script = dir.filePath("insert.sql");

    Files()
    {
        QByteArray list;
        QByteArray sql = "SET TRANSACTION;\n";
        for (int i = 0; i < Lines; ++i) {
            list += Name(i) + "\t" + Address(i) + "\r\n";
            sql += "INSERT INTO BANNED (NAME, ADDRESS) VALUES ('" + Name(i) + "', '" + Address(i) + "');\n";
        }
        sql += "COMMIT;\n";
        write(banList, list);
        write(script, sql);
    }

    static void write(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            qFatal("cannot write %s", qPrintable(path));
    }
};

Files& files()
{
    static Files made;
    return made;
}

// Answers the open dialog with the ban list; nothing else is asked.
class OpenTheList final : public DialogSeam {
public:
    bool inputQuery(const QString&, const QString&, QString&) override { return false; }
    bool confirm(const QString&) override { return false; }
    bool okCancel(const QString&) override { return false; }
    void information(const QString&) override {}
    void message(const QString&) override {}
    void error(const QString&, const QString& text) override { qFatal("%s", qPrintable(text)); }
    QString saveFileName(const FileDialogRequest&) override { return {}; }
    QString openFileName(const FileDialogRequest&) override { return files().banList; }
};

int StoredBans(TDataPalisor& data)
{
    QSqlQuery q(data.database());
    return q.exec("SELECT COUNT(*) FROM BANNED") && q.next() ? q.value(0).toInt() : -1;
}

void BM_ImportBannedNamesAndAddresses(benchmark::State& state)
{
    App();
    files();
    OpenTheList answers;
    setDialogs(&answers);
    for (auto _ : state) {
        state.PauseTiming();
        auto db = std::make_unique<test::TempDatabase>();
        auto data = db->createDataModule();
        auto window = std::make_unique<TformBannedPlayers>(*data);
        state.ResumeTiming();

        window->ImportBanned(NamesAndAddressesKind);

        state.PauseTiming();
        if (StoredBans(*data) != Lines || data->tblBanned->rowCount() != Lines)
            state.SkipWithError("the import did not store every line");
        window.reset();
        data.reset();
        db.reset();
        state.ResumeTiming();
    }
    setDialogs(nullptr);
    state.counters["lines/s"] = benchmark::Counter(double(Lines) * double(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

void BM_IsqlInsertSameRowsInOneTransaction(benchmark::State& state)
{
    App();
    files();
    for (auto _ : state) {
        state.PauseTiming();
        auto db = std::make_unique<test::TempDatabase>();
        state.ResumeTiming();

        QProcess isql;
        isql.start("isql-fb", {"-q", "-user", "SYSDBA", "-password", "quillstar", "-i", files().script,
                               db->databasePath()});
        if (!isql.waitForFinished(300'000) || isql.exitCode() != 0)
            state.SkipWithError(qPrintable("isql-fb failed: " + QString::fromLocal8Bit(isql.readAllStandardError())));

        state.PauseTiming();
        db.reset();
        state.ResumeTiming();
    }
    state.counters["lines/s"] = benchmark::Counter(double(Lines) * double(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_ImportBannedNamesAndAddresses)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_IsqlInsertSameRowsInOneTransaction)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    palisor::bench::TargetReporter report;
    benchmark::RunSpecifiedBenchmarks(&report);
    report.ratioAtMost("100,000-line import / isql-fb inserting the same rows",
                       report.milliseconds("BM_ImportBannedNamesAndAddresses/iterations:3/real_time", false),
                       report.milliseconds("BM_IsqlInsertSameRowsInOneTransaction/iterations:3/real_time", false), 3.0);
    return report.exitCode();
}
