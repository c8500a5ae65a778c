// The costs of every poll that grow with the lists: the three rule checks
// per player, and recording the players with a large RECENT table. Each pair
// runs against empty lists and against full ones in the same binary, so the
// ratio can be read off one run; the binary fails when a target is missed.
#include "bench/support/targets.h"
#include "store/datapalisor.h"
#include "tests/support/db/tempdatabase.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>
#include <map>
#include <memory>

using namespace palisor;

namespace {

constexpr int Players = 64;

QCoreApplication& App()
{
    static int argc = 1;
    static char name[] = "bench_store";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

struct Store {
    test::TempDatabase db;
    std::unique_ptr<TDataPalisor> data;

    void fill(const QString& block)
    {
        QSqlDatabase connection = data->database();
        QSqlQuery q(connection);
        if (!q.exec(block))
            qFatal("%s", qPrintable(q.lastError().text()));
        connection.commit();
        connection.transaction();
    }
};

// One database per list size, made once for the whole run and closed before
// the database engine's library is unloaded.
std::map<int, std::unique_ptr<Store>>& Stores()
{
    static std::map<int, std::unique_ptr<Store>> stores;
    return stores;
}

Store& store(int fullLists)
{
    auto& slot = Stores()[fullLists];
    if (slot)
        return *slot;
    App();
    if (qEnvironmentVariableIsEmpty("PALISOR_SCHEMA"))
        qputenv("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    slot = std::make_unique<Store>();
    slot->data = slot->db.createDataModule();
    if (fullLists) {
        slot->fill("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 100000) DO BEGIN "
                   "INSERT INTO BANNED (NAME, ADDRESS) VALUES ('Banned' || :I, '10.' || MOD(:I, 200) || '.' || "
                   "MOD(:I / 200, 250) || '.' || MOD(:I, 7)); "
                   "INSERT INTO RECENT (NAME, ADDRESS, LASTSEEN) VALUES ('Seen' || :I, '11.0.' || MOD(:I, 250) || '.1', "
                   "DATEADD(-:I * 20 SECOND TO CURRENT_TIMESTAMP)); I = I + 1; END END");
        slot->fill("EXECUTE BLOCK AS DECLARE I INTEGER = 0; BEGIN WHILE (I < 1000) DO BEGIN "
                   "INSERT INTO IMMUNE (NAME) VALUES ('Admin' || :I); "
                   "INSERT INTO ILLEGAL (NAME) VALUES ('word' || :I || 'x'); I = I + 1; END END");
        for (LiveTable* table : {slot->data->tblBanned, slot->data->tblRecent, slot->data->tblImmune, slot->data->tblIllegal})
            table->refresh();
    }
    return *slot;
}

QString playerName(int i) { return QStringLiteral("Soldier|%1 of the 2nd").arg(i); }
QString playerAddress(int i) { return QStringLiteral("192.168.%1.%2").arg(i / 10).arg(i); }

int StoredRows(TDataPalisor& data, const char* table)
{
    QSqlQuery q(data.database());
    return q.exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))) && q.next() ? q.value(0).toInt()
                                                                                                  : -1;
}

void CheckPlayers(TDataPalisor& data)
{
    for (int i = 0; i < Players; ++i) {
        benchmark::DoNotOptimize(data.IsIllegalName(playerName(i)));
        benchmark::DoNotOptimize(data.IsBanned(playerName(i), playerAddress(i)));
    }
}

// The checks of every poll; what the lists need before the first poll is
// made before the timing starts.
void BM_RuleChecks(benchmark::State& state)
{
    TDataPalisor& data = *store(int(state.range(0))).data;
    CheckPlayers(data);
    for (auto _ : state)
        CheckPlayers(data);
    state.counters["banned_rows"] = StoredRows(data, "BANNED");
}
BENCHMARK(BM_RuleChecks)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_RecordPlayers(benchmark::State& state)
{
    TDataPalisor& data = *store(int(state.range(0))).data;
    for (auto _ : state) {
        data.DeletePlayers();
        for (int i = 0; i < Players; ++i)
            data.RecordPlayer(QStringLiteral("%1").arg(i, 2, 10, QLatin1Char('0')), playerName(i), playerAddress(i),
                              QStringLiteral("27001"), QStringLiteral("050"));
    }
    state.counters["recent_rows"] = StoredRows(data, "RECENT");
}
BENCHMARK(BM_RecordPlayers)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_CountRows(benchmark::State& state)
{
    TDataPalisor& data = *store(int(state.range(0))).data;
    for (auto _ : state)
        benchmark::DoNotOptimize(data.CountRows(data.tblBanned) + data.CountRows(data.tblRecent));
}
BENCHMARK(BM_CountRows)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    palisor::bench::TargetReporter report;
    benchmark::RunSpecifiedBenchmarks(&report);
    const double checksEmpty = report.milliseconds("BM_RuleChecks/0", true);
    const double checksFull = report.milliseconds("BM_RuleChecks/1", true);
    report.atMost("64 rule checks, large lists, ms CPU", checksFull, 5.0, "ms");
    report.ratioAtMost("64 rule checks, large lists / empty lists", checksFull, checksEmpty, 1.5);
    report.ratioAtMost("recording 64 players, RECENT at 100,000 / empty",
                       report.milliseconds("BM_RecordPlayers/1/min_time:2.000", true),
                       report.milliseconds("BM_RecordPlayers/0/min_time:2.000", true), 1.5);
    Stores().clear();
    return report.exitCode();
}
