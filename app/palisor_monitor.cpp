// palisor-monitor: Palisor's monitor without a window, for a machine without
// a desktop and for scripts. palisor-monitor --help tells how to use it.
#include "core/error.h"
#include "core/places.h"
#include "core/shellutils.h"
#include "core/startup.h"
#include "core/termination.h"
#include "rcon/rcon.h"
#include "service/eventwriter.h"
#include "service/fleet.h"
#include "service/headless.h"
#include "service/options.h"
#include "store/datapalisor.h"
#include "store/firststart.h"
#include "store/monitorclaim.h"
#include "core/timing.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <memory>
#include <termios.h>
#include <unistd.h>

using namespace palisor;

namespace {

const char Program[] = "palisor-monitor";
// sysexits' EX_CONFIG: a service manager need not restart what only the
// administrator can mend.
constexpr int ConfigurationError = 78;

int fail(const QString& message, int exitCode = 1)
{
    WriteError(Program, message);
    return exitCode;
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

// Reads a line typed on the terminal without showing it.
QString PromptPassword()
{
    std::fputs("Remote-console password: ", stderr);
    std::fflush(stderr);
    termios before{};
    const bool quiet = ::tcgetattr(STDIN_FILENO, &before) == 0;
    if (quiet) {
        termios hidden = before;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        hidden.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    QTextStream in(stdin);
    const QString line = in.readLine();
    if (quiet)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
    return line;
}

QString ReadPassword(const MonitorOptions& options)
{
    if (options.passwordFile.isEmpty())
        return options.password;
    if (options.passwordFile == QLatin1String("-") && ::isatty(STDIN_FILENO))
        return PromptPassword();
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
    const QString made = data.filePath(QStringLiteral("PALISOR.GDB"));
    if (options.logFormat == MonitorOptions::LogFormat::Json)
        EventWriter(options.logFormat, stdout).write(QStringLiteral("init"), {{QStringLiteral("database"), made}});
    else
        print(QStringLiteral("Made %1\n").arg(made));
    return 0;
}

// Only --init makes a database: a mistyped --data must not start a monitor
// with the default settings in a new folder. Empty when the folder is fit.
QString MissingDatabase(const Places& places)
{
    const QDir data(places.dataFolder);
    if (ReadDatabaseConf(places.dataFolder).onServer() || QFile::exists(data.filePath(QStringLiteral("PALISOR.GDB")))
        || QFile::exists(data.filePath(QStringLiteral("PALISOR.BKP"))))
        return QString();
    return QStringLiteral("There is no database in %1; make one with: %2 --data %1 --init")
        .arg(places.dataFolder, QLatin1String(Program));
}

// How a failed poll is named on standard error: by the server's name, and
// its address when the name is another.
QString FailedPoll(const StatusReport& report, const QString& error)
{
    if (IsClaimedByAnother(error))
        return error;
    const QString who = report.server.isEmpty() || report.name == report.server
                            ? report.name
                            : QStringLiteral("%1 (%2)").arg(report.name, report.server);
    return who + QStringLiteral(": ") + error;
}

// The players a run recorded go when it ends, unless another program
// monitors their server by now.
void EmptyPlayers(TDataPalisor& data, const QList<int>& servers)
{
    for (const int id : servers) {
        data.SetServer(id);
        data.Resynchronise({data.tblPlayers});
        const std::optional<MonitorClaim> claim = data.HasHistory() ? ReadClaim(data.database(), id) : std::nullopt;
        if (!claim || MonitorIdentity::current().holds(*claim) || claim->staleAt(now().toUTC()))
            data.DeletePlayers();
    }
}

int Monitor(const MonitorOptions& options, const Places& places)
{
    std::unique_ptr<MonitorFleet> fleet;
    // SIGHUP never ends the program; it changes something only while the
    // monitor runs.
    ReloadOnHangUp([&fleet, &options] {
        if (fleet && options.mode == MonitorOptions::Mode::Run)
            fleet->Reload();
    });
    TDataPalisor data{DataFolder{places.dataFolder}};
    data.DataModuleCreate();
    // Again: the database engine installs signal handlers of its own when it
    // first opens a database, and they must not close it under the program.
    QuitOnTerminationSignals();

    EventWriter events(options.logFormat, stdout);
    try {
        fleet = std::make_unique<MonitorFleet>(data, events, options.servers);
    } catch (const UnknownServer& e) {
        data.DataModuleDestroy();
        ReloadOnHangUp({});
        return fail(messageOf(e), 2);
    }
    bool first = true;   // the first server printed by --once
    if (options.mode == MonitorOptions::Mode::Once) {
        fleet->Once(
            [&](const StatusReport& report, const QString& error) {
                if (!error.isEmpty())
                    WriteError(Program, FailedPoll(report, error));
                else if (options.logFormat == MonitorOptions::LogFormat::Json)
                    events.write(QStringLiteral("status"),
                                 QList<std::pair<QString, QVariant>>{{QStringLiteral("server"), report.name}}
                                     + StatusReportFields(report));
                else
                    print((std::exchange(first, false) ? QString() : QStringLiteral("\n")) + QLatin1Char('[')
                          + EscapeControls(report.name) + QStringLiteral("]\n") + StatusReportText(report));
            },
            [](int exitCode) { QCoreApplication::exit(exitCode); });
    } else {
        fleet->Start();
    }
    int exitCode = QCoreApplication::exec();
    const QList<int> served = fleet->Served();
    // The engines end after the exchange in progress.
    fleet.reset();
    if (const int signal = TerminationSignal()) {
        // --once was cut short before it could answer.
        exitCode = options.mode == MonitorOptions::Mode::Once ? 1 : 0;
        events.write(QStringLiteral("stop"), {{QStringLiteral("reason"), QStringLiteral("SIG") + QLatin1String(sigabbrev_np(signal))}});
    }
    try {
        EmptyPlayers(data, served);
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
    try {
        if (QFileInfo(places.dataFolder).exists() && !QFileInfo(places.dataFolder).isDir())
            return fail(QStringLiteral("%1 is not a folder").arg(places.dataFolder), ConfigurationError);
        if (options.mode != MonitorOptions::Mode::Init) {
            if (const QString missing = MissingDatabase(places); !missing.isEmpty())
                return fail(missing, ConfigurationError);
        }
        PrepareDataFolder(places.dataFolder);
        const int exitCode = options.mode == MonitorOptions::Mode::Init ? Init(options, places) : Monitor(options, places);
        GiveToFolderOwner(places);
        return exitCode;
    } catch (const std::exception& e) {
        return fail(messageOf(e));
    }
}
