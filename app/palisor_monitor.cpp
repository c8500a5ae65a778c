// palisor-monitor: Palisor's monitor without a window, for a machine without
// a desktop and for scripts. palisor-monitor --help tells how to use it.
#include "core/datafolderlock.h"
#include "core/error.h"
#include "core/places.h"
#include "core/startup.h"
#include "core/termination.h"
#include "rcon/rcon.h"
#include "service/eventwriter.h"
#include "service/headless.h"
#include "service/options.h"
#include "store/datapalisor.h"
#include "store/firststart.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

using namespace palisor;

namespace {

const char Program[] = "palisor-monitor";

int fail(const QString& message)
{
    std::fprintf(stderr, "%s: %s\n", Program, message.toLocal8Bit().constData());
    return 1;
}

void print(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

// Where the data lives: the folder given, else the window's.
Places PlacesFor(const MonitorOptions& options)
{
    Places places = FindPlaces(ExecutableFolder());
    if (!options.dataFolder.isEmpty())
        places.dataFolder = QDir::cleanPath(QDir(options.dataFolder).absolutePath());
    return places;
}

QString ReadPassword(const MonitorOptions& options)
{
    if (options.passwordFile.isEmpty())
        return options.password;
    QFile file;
    const bool opened = options.passwordFile == QLatin1String("-")
                            ? file.open(stdin, QIODevice::ReadOnly)
                            : (file.setFileName(options.passwordFile), file.open(QIODevice::ReadOnly));
    if (!opened)
        throw Error(QStringLiteral("Cannot read %1: %2").arg(options.passwordFile, file.errorString()));
    QString line = QString::fromLocal8Bit(file.readLine());
    while (line.endsWith(QLatin1Char('\n')) || line.endsWith(QLatin1Char('\r')))
        line.chop(1);
    return line;
}

// A service's state folder that root works in (sudo palisor-monitor --init,
// or --once to check) stays its service user's: the database, the log and
// the engine's lock files go to the folder's owner.
void GiveToFolderOwner(const Places& places)
{
    const QFileInfo folder(places.dataFolder);
    if (::geteuid() != 0 || folder.ownerId() == 0)
        return;
    QDirIterator made(places.dataFolder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                      QDirIterator::Subdirectories);
    while (made.hasNext()) {
        const QByteArray path = QFile::encodeName(made.next());
        if (::lchown(path.constData(), folder.ownerId(), folder.groupId()) != 0)
            throw Error(QStringLiteral("Cannot give %1 to the data folder's owner").arg(made.filePath()));
    }
}

int Init(const MonitorOptions& options, const Places& places)
{
    const QDir data(places.dataFolder);
    for (const char* name : {"PALISOR.GDB", "PALISOR.BKP"}) {
        if (QFile::exists(data.filePath(QLatin1String(name))))
            return fail(QStringLiteral("%1 already holds a database (%2); nothing was changed.")
                            .arg(places.dataFolder, QLatin1String(name)));
    }
    CreateMissingDatabase(places.dataFolder, places.schemaFile(), ReadPassword(options));
    print(QStringLiteral("Made %1\n").arg(data.filePath(QStringLiteral("PALISOR.GDB"))));
    return 0;
}

int Monitor(const MonitorOptions& options, const Places& places)
{
    std::unique_ptr<HeadlessMonitor> monitor;
    // SIGHUP never ends the program; it changes something only while the
    // monitor runs.
    ReloadOnHangUp([&monitor, &options] {
        if (monitor && options.mode == MonitorOptions::Mode::Run)
            monitor->Reload();
    });
    CreateMissingDatabase(places.dataFolder, places.schemaFile());
    TDataPalisor data{DataFolder{places.dataFolder}};
    data.DataModuleCreate();
    // Again: the database engine installs signal handlers of its own when it
    // first opens a database, and they must not close it under the program.
    QuitOnTerminationSignals();
    // The engine works through an attachment of its own; this one comes
    // back to empty PLAYERS when the program ends.
    data.DisconnectDatabase();

    EventWriter events(options.logFormat, stdout);
    monitor = std::make_unique<HeadlessMonitor>(data, Rcon, events);
    if (options.mode == MonitorOptions::Mode::Once) {
        monitor->Once([&](const StatusReport& report, const QString& error) {
            if (!error.isEmpty()) {
                QCoreApplication::exit(fail(error));
                return;
            }
            if (options.logFormat == MonitorOptions::LogFormat::Json)
                events.write(QStringLiteral("status"), StatusReportFields(report));
            else
                print(StatusReportText(report));
            QCoreApplication::exit(0);
        });
    } else {
        monitor->Start();
    }
    int exitCode = QCoreApplication::exec();
    // The engine ends after the exchange in progress.
    monitor.reset();
    if (const int signal = TerminationSignal()) {
        // --once was cut short before it could answer.
        exitCode = options.mode == MonitorOptions::Mode::Once ? 1 : 0;
        events.write(QStringLiteral("stop"), {{QStringLiteral("reason"), QStringLiteral("SIG") + QLatin1String(sigabbrev_np(signal))}});
    }
    try {
        data.Resynchronise({data.tblPlayers});
    } catch (const std::exception& e) {
        exitCode = fail(messageOf(e));
    }
    data.DataModuleDestroy();
    ReloadOnHangUp({});
    return exitCode;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QString::fromLatin1(Program));
    const MonitorOptions options = ParseMonitorOptions(QCoreApplication::arguments());
    switch (options.mode) {
    case MonitorOptions::Mode::Help:
        print(options.text + QStringLiteral("\nThis copy's default data folder: %1\n").arg(PlacesFor(options).dataFolder));
        return 0;
    case MonitorOptions::Mode::Version:
        print(options.text);
        return 0;
    case MonitorOptions::Mode::Usage:
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", Program, options.text.toLocal8Bit().constData(), Program);
        return 2;
    default:
        break;
    }
    QuitOnTerminationSignals();

    const Places places = PlacesFor(options);
    SetProgramPlaces(places);
    DataFolderLock lock;
    try {
        PrepareDataFolder(places.dataFolder);
        if (!lock.take(places.dataFolder, QString::fromLatin1(Program)))
            return fail(lock.refusal());
        const int exitCode = options.mode == MonitorOptions::Mode::Init ? Init(options, places) : Monitor(options, places);
        GiveToFolderOwner(places);
        return exitCode;
    } catch (const std::exception& e) {
        return fail(messageOf(e));
    }
}
