// A real palisor-monitor whose database is on a Firebird server the
// benchmark starts, kills (SIGKILL) and starts again:
//   - memory: the simulated busy server (64 players, scan time 1 s, nobody
//     kicked) polled through a 60-second outage; the monitor's private
//     resident memory (RssAnon) at its peak meanwhile and a few polls after
//     the write-out, against before;
//   - rounds: ten outages of ten seconds, each begun in the middle of a poll
//     (alternately right after the player list and between a kick's
//     announcement and the kick), with a banned player who comes back every
//     second: each loss and return told once, kicks meanwhile, back within
//     two polls of the restart, every kick and every poll's sample stored
//     once, and the database's validation clean.
// Prints every figure and fails when a target is missed.
#include "bench/support/busyserver.h"
#include "bench/support/checks.h"
#include "bench/support/programs.h"
#include "store/datapalisor.h"
#include "tests/support/db/fbserver.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace palisor;
using bench::Program;

namespace {

constexpr int Players = 64;
constexpr int OutageSeconds = 60;
constexpr int RoundCount = 10;
constexpr int RoundOutageMs = 10000;

// The process's private resident memory in kB (RssAnon), or -1.
double PrivateKb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("RssAnon:"))
            return line.mid(8).trimmed().split(' ').value(0).toDouble();
    return -1;
}

// A data folder whose database is on the server, a simulator, and the
// monitor on both, its json events read as they come.
class Rig {
public:
    Rig(test::FirebirdServer& server, const QString& file, const QString& scenario, const QStringList& settings)
    {
        const QString password = secrets_.filePath("password");
        QFile secret(password);
        if (!secret.open(QIODevice::WriteOnly) || secret.write(server.password().toUtf8() + "\n") < 0)
            qFatal("cannot write the password file");
        secret.close();
        QFile::setPermissions(password, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ctl({"database", "set", "location=" + server.location(file), "user=palisor", "--password-file", password});
        ctl({"database", "create"});
        ctl({"ban", "add", "--name", "Cheater", "--reason", "aimbot"});
        ctl(QStringList{"settings", "set", QStringLiteral("port=%1").arg(sim_.start(scenario))} + settings);
        ctl({"password", "set", "--password-file", "-"}, "secret\n");
        monitor_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        monitor_.start(Program("palisor-monitor"), {"--data", folder_.dataFolder(), "--log-format", "json"});
        if (!monitor_.waitForStarted())
            qFatal("palisor-monitor did not start");
    }

    ~Rig() { stop(); }

    void ctl(const QStringList& arguments, const QByteArray& input = {})
    {
        QProcess run;
        run.start(Program("palisorctl"), QStringList{"--data", folder_.dataFolder()} + arguments);
        run.write(input);
        run.closeWriteChannel();
        if (!run.waitForFinished(60000) || run.exitStatus() != QProcess::NormalExit || run.exitCode() != 0)
            qFatal("palisorctl %s failed: %s", qPrintable(arguments.join(' ')), run.readAllStandardError().constData());
    }

    void pump(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        do {
            monitor_.waitForReadyRead(50);
            while (monitor_.canReadLine())
                lines_ << QString::fromUtf8(monitor_.readLine()).trimmed();
        } while (clock.elapsed() < ms && monitor_.state() == QProcess::Running);
    }

    bool await(const std::function<bool()>& done, int ms)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < ms && monitor_.state() == QProcess::Running)
            pump(50);
        return done();
    }

    int events(const char* name, qsizetype from = 0) const
    {
        return int(lines_.mid(from).filter(QStringLiteral("\"event\":\"%1\"").arg(QLatin1String(name))).size());
    }
    int sent(const QString& command) const { return int(sim_.commandTexts().count(command)); }
    qsizetype lineCount() const { return lines_.size(); }
    qint64 pid() const { return monitor_.processId(); }

    void stop()
    {
        if (monitor_.state() == QProcess::NotRunning)
            return;
        monitor_.terminate();
        monitor_.waitForFinished(30000);
        pump(0);
    }

    // The kicks and the samples the database holds.
    std::pair<int, int> stored()
    {
        TDataPalisor data{DataFolder{folder_.dataFolder()}};
        data.DataModuleCreate();
        const int kicks = int(test::RecordedEvents(data).filter(QRegularExpression("^KICK\\|")).size());
        const int samples = int(test::RecordedSamples(data).size());
        data.DataModuleDestroy();
        return {kicks, samples};
    }

private:
    test::TempDatabase folder_;
    QTemporaryDir secrets_;
    test::SimProcess sim_;
    QProcess monitor_;
    QStringList lines_;
};

bench::Checks checks;

void Memory(test::FirebirdServer& server)
{
    Rig rig(server, "MEMORY.FDB", bench::BusyServerScenario(Players), {"scan-time=1", "max-ping=999"});
    // The first polls build what the rules need.
    if (!rig.await([&] { return rig.events("poll") >= 3; }, 60000))
        qFatal("the monitor did not poll");
    const double before = PrivateKb(rig.pid());
    server.kill();
    double peak = before;
    const int pollsBefore = rig.events("poll");
    for (int second = 0; second < OutageSeconds; ++second) {
        rig.pump(1000);
        peak = std::max(peak, PrivateKb(rig.pid()));
    }
    const int pollsMeanwhile = rig.events("poll") - pollsBefore;
    server.restart();
    if (!rig.await([&] { return rig.events("database-back") == 1; }, 60000))
        qFatal("the monitor did not come back");
    const qsizetype back = rig.lineCount();
    rig.await([&] { return rig.events("poll", back) >= 3; }, 60000);
    const double after = PrivateKb(rig.pid());
    rig.stop();
    std::printf("bench_outage memory: %d players, scan time 1 s, %d s outage, %d polls meanwhile\n", Players,
                OutageSeconds, pollsMeanwhile);
    std::printf("  monitor private memory: before %.0f kB, peak during the outage %.0f kB, after the write-out %.0f kB\n",
                before, peak, after);
    checks.atMost("monitor memory growth during a 60 s outage", (peak - before) / 1024, 2, "MB");
    checks.atMost("monitor memory after the write-out, above before", (after - before) / 1024, 0.5, "MB");
}

void Rounds(test::FirebirdServer& server)
{
    Rig rig(server, "ROUNDS.FDB",
            R"({"players": [{"slot": 3, "name": "Sgt.Pepper", "address": "203.0.113.7", "port": 12203, "ping": 48}],
                "loop_seconds": 1,
                "timeline": [{"at_seconds": 0, "join": {"slot": 4, "name": "Cheater", "address": "203.0.113.9", "port": 12203, "ping": 50}}]})",
            {"scan-time=1"});
    const QStringList killedAfter{"status", "say Kicking player Cheater for BANNED IP"};
    int roundsWithoutKicks = 0;
    int slowestReturn = 0;
    for (int round = 0; round < RoundCount; ++round) {
        const QString& when = killedAfter[round % 2];
        const int before = rig.sent(when);
        if (!rig.await([&] { return rig.sent(when) > before; }, 60000))
            qFatal("the monitor stopped polling");
        server.kill();
        const int kicked = rig.sent("clientkick 04");
        rig.pump(RoundOutageMs);
        roundsWithoutKicks += rig.sent("clientkick 04") > kicked ? 0 : 1;
        const int restartedAt = rig.sent("status");
        server.restart();
        if (!rig.await([&] { return rig.events("database-back") == round + 1; }, 60000))
            qFatal("the monitor did not come back in round %d", round + 1);
        slowestReturn = std::max(slowestReturn, rig.sent("status") - restartedAt);
    }
    const qsizetype back = rig.lineCount();
    rig.await([&] { return rig.events("poll", back) >= 1; }, 60000);
    rig.stop();
    const auto [kicks, samples] = rig.stored();
    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start("fbsvcmgr", {QStringLiteral("127.0.0.1/%1:service_mgr").arg(server.port()), "-user", "palisor",
                                "-password", server.password(), "-action_validate", "-dbname",
                                server.databaseFolder() + "/ROUNDS.FDB"});
    validate.waitForFinished(120000);
    const QString report = QString::fromLocal8Bit(validate.readAll());
    const bool clean = validate.exitStatus() == QProcess::NormalExit && validate.exitCode() == 0
                       && !report.contains(QLatin1String("error"), Qt::CaseInsensitive);
    std::printf("bench_outage rounds: %d outages of %d s; lost told %d times, back %d times; kicks told %d, stored %d; "
                "polls told %d, samples stored %d; validation %s\n",
                RoundCount, RoundOutageMs / 1000, rig.events("database-lost"), rig.events("database-back"),
                rig.events("kick"), kicks, rig.events("poll"), samples, clean ? "clean" : qPrintable(report));
    checks.atMost("outages not told exactly once", std::abs(rig.events("database-lost") - RoundCount), 0, "");
    checks.atMost("returns not told exactly once", std::abs(rig.events("database-back") - RoundCount), 0, "");
    checks.atMost("outages without a kick meanwhile", roundsWithoutKicks, 0, "");
    checks.atMost("polls begun after a restart before the return", slowestReturn, 2, "");
    checks.atMost("kicks lost or stored twice", std::abs(kicks - rig.events("kick")), 0, "");
    checks.atMost("samples lost or stored twice", std::abs(samples - rig.events("poll")), 0, "");
    checks.atMost("validation errors", clean ? 0 : 1, 0, "");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::SetDefault("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    bench::SetDefault("PALISOR_BUILD_DIR", PALISOR_BENCH_BUILD_DIR);
    bench::SetDefault("PALISOR_FIREBIRD_SERVER", PALISOR_BENCH_FIREBIRD_SERVER);
    test::FirebirdServer server;
    const bool memoryOnly = argc > 1 && qstrcmp(argv[1], "--memory") == 0;
    Memory(server);
    if (!memoryOnly)
        Rounds(server);
    return checks.exitCode("bench_outage");
}
