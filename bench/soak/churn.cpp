#include "bench/soak/churn.h"

#include "monitor/monitorthread.h"
#include "store/datapalisor.h"
#include "tests/support/monitor/settle.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace palisor::soak {
namespace {

// Everyone who ever plays on the soak server: more than fit at once, so the
// server's population keeps changing, but few enough that the recent
// players' list reaches a steady size.
constexpr int kIdentities = 96;
constexpr int kSlots = 64;

QJsonObject Identity(int id, int slot)
{
    static const char* const kinds[] = {"Rifleman", "Medic", "Sniper", "Admin-Tag", "xX_Spawncamper_Xx", "Sgt.O'Hara"};
    return {{"slot", slot},
            {"name", QStringLiteral("%1 %2").arg(QLatin1String(kinds[id % 6])).arg(id)},
            {"address", QStringLiteral("198.51.%1.%2").arg(id / 50).arg(id % 50 + 1)},
            {"port", 12203},
            {"ping", id % 9 == 0 ? 380 : 40 + (id * 37) % 200}};
}

}  // namespace

QString Scenario()
{
    QJsonArray players;
    for (int slot = 0; slot < kSlots; ++slot)
        players.append(Identity(slot, slot));
    QJsonArray timeline;
    for (int step = 0; step < 100; ++step) {
        const double at = 0.2 * step;
        const int slot = (step * 13) % kSlots;
        timeline.append(QJsonObject{{"at_seconds", at}, {"leave", slot}});
        timeline.append(QJsonObject{{"at_seconds", at + 0.1}, {"join", Identity((kSlots + step) % kIdentities, slot)}});
    }
    timeline.append(QJsonObject{{"at_seconds", 5}, {"command", "vstr nextmap"}});
    timeline.append(QJsonObject{{"at_seconds", 10}, {"set", QJsonObject{{"clientban", 21}}}});
    timeline.append(QJsonObject{{"at_seconds", 15}, {"command", "vstr nextmap"}});
    const QJsonObject variables{{"sv_hostname", "Soak Test Server"}, {"g_gametypestring", "Objective-Match"},
                                {"sv_maxclients", kSlots}, {"mapname", "obj/obj_team1"}, {"nextmap", "vstr m2"},
                                {"m1", "map obj/obj_team1; set nextmap vstr m2"},
                                {"m2", "map obj/obj_team2; set nextmap vstr m1"}, {"clientban", 99}};
    const QJsonObject scenario{{"players", players}, {"timeline", timeline}, {"loop_seconds", 20},
                               {"jitter", 40}, {"seed", 7}, {"variables", variables}};
    return QString::fromUtf8(QJsonDocument(scenario).toJson(QJsonDocument::Compact));
}

namespace {

void AddRow(LiveTable* table, std::initializer_list<std::pair<const char*, QString>> values)
{
    table->insert();
    for (const auto& [column, value] : values)
        table->setValue(QLatin1String(column), value);
    table->post();
}

void Report(const char* when, int polls, const Usage& usage)
{
    std::printf("%-8s after %6d polls: peak RSS %7lld kB, RSS %7lld kB, peak private %7lld kB, private %7lld kB, "
                "%d open descriptors\n",
                when, polls, static_cast<long long>(usage.peakKb), static_cast<long long>(usage.residentKb),
                static_cast<long long>(usage.peakPrivateKb), static_cast<long long>(usage.privateKb),
                usage.descriptors);
    std::fflush(stdout);
}

}  // namespace

Ground::BuildFolder::BuildFolder()
{
    if (qEnvironmentVariableIsEmpty("PALISOR_SCHEMA"))
        qputenv("PALISOR_SCHEMA", PALISOR_SOAK_SCHEMA);
    if (qEnvironmentVariableIsEmpty("PALISOR_BUILD_DIR"))
        qputenv("PALISOR_BUILD_DIR", PALISOR_SOAK_BUILD_DIR);
}

Ground::Ground() : data(db.createDataModule())
{
    FillLists(*data, sim.start(Scenario(), QStringLiteral("soak")));
}

Ground::~Ground() = default;

// The administrator's lists of a server that has run for a while.
void FillLists(TDataPalisor& data, quint16 port)
{
    data.tblSettings->edit();
    data.tblSettings->setValue("PORT", QString::number(port));
    data.tblSettings->setValue("PASSWORD", QStringLiteral("soak"));
    data.tblSettings->setValue("SCANTIME", QStringLiteral("1"));
    data.tblSettings->setValue("MAXPING", QStringLiteral("300"));
    data.tblSettings->setValue("MSGON", QStringLiteral("True"));
    data.tblSettings->setValue("MSGTIME", 1);
    data.tblSettings->post();
    for (int i = 0; i < 500; ++i)
        AddRow(data.tblBanned, {{"NAME", QStringLiteral("Banned %1").arg(i)}, {"ADDRESS", QStringLiteral("10.0.%1.%2").arg(i / 250).arg(i % 250)}});
    AddRow(data.tblBanned, {{"NAME", "Medic 13"}, {"ADDRESS", "10.9.9.9"}});
    AddRow(data.tblBanned, {{"NAME", "Somebody"}, {"ADDRESS", "198.51.0.38"}});
    AddRow(data.tblIllegal, {{"NAME", "camper"}});
    AddRow(data.tblIllegal, {{"NAME", "nazi"}});
    AddRow(data.tblImmune, {{"NAME", "Admin-Tag"}});
    AddRow(data.tblMapAlias, {{"MAPNAME", "team1"}, {"ALIAS", "Hedgerows"}});
    AddRow(data.tblMessages, {{"ANNOUNCEMENT", "Welcome to $servername$"}});
    AddRow(data.tblMessages, {{"ANNOUNCEMENT", "Now $crntmap$, next $nextmap$ at $time$"}});
    AddRow(data.tblMessages, {{"ANNOUNCEMENT", "$banned$ banned, $recent$ seen lately"}});
}

Usage Measure()
{
    Usage usage;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            const QList<QByteArray> words = line.simplified().split(' ');
            if (words.size() >= 2 && words[0] == "VmHWM:")
                usage.peakKb = words[1].toLongLong();
            if (words.size() >= 2 && words[0] == "VmRSS:")
                usage.residentKb = words[1].toLongLong();
            if (words.size() >= 2 && words[0] == "RssAnon:")
                usage.privateKb = words[1].toLongLong();
        }
    }
    usage.peakPrivateKb = usage.privateKb;
    usage.descriptors = static_cast<int>(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size());
    return usage;
}

int Soak(MonitorThread& monitor, int polls, const std::function<void()>& afterPoll)
{
    const int warmUp = qMax(1, qMin(1000, polls / 10));
    QElapsedTimer clock;
    clock.start();
    Usage start;
    qint64 peakPrivateKb = 0;
    const auto measure = [&] {
        Usage usage = Measure();
        peakPrivateKb = qMax(peakPrivateKb, usage.privateKb);
        usage.peakPrivateKb = peakPrivateKb;
        return usage;
    };
    for (int done = 1; done < polls; ++done) {
        test::Tick(monitor);
        afterPoll();
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (done % 25 == 0)
            monitor.post([](MonitorEngine& engine) { engine.MsgTimerTimer(); });
        const Usage now = measure();
        if (done == warmUp) {
            start = now;
            Report("start", done, start);
        } else if (done % 1000 == 0) {
            Report("running", done, now);
        }
    }
    const Usage end = measure();
    Report("end", polls, end);
    const double seconds = static_cast<double>(clock.elapsed()) / 1000.0;
    std::printf("%d polls in %.0f s (%.1f ms a poll)\n", polls, seconds, 1000.0 * seconds / polls);
    const double growth = start.peakPrivateKb > 0
                              ? 100.0 * static_cast<double>(end.peakPrivateKb - start.peakPrivateKb) /
                                    static_cast<double>(start.peakPrivateKb)
                              : 0.0;
    std::printf("peak private memory growth %.2f %% (limit 5 %%), descriptors %d -> %d\n", growth, start.descriptors,
                end.descriptors);
    return growth <= 5.0 && end.descriptors <= start.descriptors ? 0 : 1;
}

}  // namespace palisor::soak
