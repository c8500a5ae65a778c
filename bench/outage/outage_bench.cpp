// A real palisor-monitor whose database is on a Firebird server the
// benchmark starts, kills (SIGKILL) and starts again: the simulated busy
// server (64 players, scan time 1 s, nobody kicked) polled through a
// 60-second outage; the monitor's private resident memory (RssAnon) at its
// peak meanwhile and a few polls after the write-out, against before.
// (Ten outages in a row, with kicks meanwhile, are a test of `make test`.)
// Prints every figure and fails when a target is missed.
#include "bench/support/busyserver.h"
#include "bench/support/checks.h"
#include "bench/support/programs.h"
#include "tests/support/db/fbserver.h"
#include "tests/support/db/tempdatabase.h"
#include "tests/support/sim/simprocess.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace palisor;
using bench::Program;

namespace {

constexpr int Players = 64;
constexpr int OutageSeconds = 60;

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

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    bench::SetDefault("PALISOR_SCHEMA", PALISOR_SCHEMA_FILE);
    bench::SetDefault("PALISOR_BUILD_DIR", PALISOR_BENCH_BUILD_DIR);
    bench::SetDefault("PALISOR_FIREBIRD_SERVER", PALISOR_BENCH_FIREBIRD_SERVER);
    test::FirebirdServer server;
    Memory(server);
    return checks.exitCode("bench_outage");
}
