#include "service/options.h"

#include "version.h"

#include <QCommandLineParser>

namespace palisor {
namespace {

const char Description[] =
    "Runs Palisor's monitor without a window: polls every game server of the data\n"
    "folder (or those chosen with --server), enforces the rules, records bans, sends\n"
    "the scheduled announcements and compacts the database, with each server's\n"
    "settings and the shared lists. A server added, changed or removed is followed\n"
    "at once; one without a console password waits for it. One line per event on\n"
    "standard output, naming its server. SIGHUP re-reads the settings and lists;\n"
    "SIGTERM and SIGINT end it after the current exchange.";

const char HelpClosing[] =
    "\n"
    "The default data folder is the window's: a folder named data beside the\n"
    "program, else $XDG_DATA_HOME/palisor (~/.local/share/palisor).\n"
    "\n"
    "Exit status:\n"
    "  0   ended by SIGTERM or SIGINT; with --once, every server answered\n"
    "  1   an error: the folder is in use, the database or a server failed\n"
    "  2   wrong arguments, or a --server the database does not hold\n"
    "  75  every server is monitored by another program\n"
    "  78  a configuration error: no database in the data folder (--init makes\n"
    "      one), a refused console password or a bad port\n";

MonitorOptions usage(const QString& text)
{
    MonitorOptions options;
    options.mode = MonitorOptions::Mode::Usage;
    options.text = text;
    return options;
}

}  // namespace

MonitorOptions ParseMonitorOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(Description));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("The data folder (default: the one the window uses)."),
                                  QStringLiteral("DIR"));
    const QCommandLineOption once(QStringLiteral("once"),
                                  QStringLiteral("One poll of each server in turn like the window's Status, rules "
                                                 "included; prints each one's information and players under its "
                                                 "name. Exits 0 when every server answered, 1 when one failed."));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("Monitors the server of that name only; repeat it for several "
                                                   "(default: every server of the database)."),
                                    QStringLiteral("NAME"));
    const QCommandLineOption logFormat(QStringLiteral("log-format"),
                                       QStringLiteral("How events are written: text (default) or json."),
                                       QStringLiteral("FORMAT"), QStringLiteral("text"));
    const QCommandLineOption init(QStringLiteral("init"),
                                  QStringLiteral("Makes the database in the data folder and exits."));
    const QCommandLineOption password(QStringLiteral("password"),
                                      QStringLiteral("With --init: the remote-console password (other users "
                                                     "may see it in the process list; --password-file does not "
                                                     "show it)."),
                                      QStringLiteral("PASSWORD"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"),
                                          QStringLiteral("With --init: the remote-console password, the first line "
                                                         "of FILE (- for standard input)."),
                                          QStringLiteral("FILE"));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Shows this help."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QStringLiteral("Shows the version."));
    parser.addOptions({data, once, server, logFormat, init, password, passwordFile, help, version});

    if (!parser.parse(arguments))
        return usage(parser.errorText());
    MonitorOptions options;
    if (parser.isSet(help)) {
        options.mode = MonitorOptions::Mode::Help;
        options.text = parser.helpText() + QString::fromLatin1(HelpClosing);
        return options;
    }
    if (parser.isSet(version)) {
        options.mode = MonitorOptions::Mode::Version;
        options.text = QStringLiteral("palisor-monitor (%1) %2\n")
                           .arg(QString::fromLatin1(ProductName), QString::fromLatin1(ProductVersion));
        return options;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first());
    if (parser.isSet(once) && parser.isSet(init))
        return usage(QStringLiteral("--once and --init exclude each other."));
    if ((parser.isSet(password) || parser.isSet(passwordFile)) && !parser.isSet(init))
        return usage(QStringLiteral("--password and --password-file go with --init."));
    if (parser.isSet(password) && parser.isSet(passwordFile))
        return usage(QStringLiteral("--password and --password-file exclude each other."));
    const QString format = parser.value(logFormat);
    if (format != QLatin1String("text") && format != QLatin1String("json"))
        return usage(QStringLiteral("Unknown log format: ") + format + QStringLiteral(" (text or json)."));
    if (parser.isSet(server) && parser.isSet(init))
        return usage(QStringLiteral("--server and --init exclude each other."));
    if (parser.isSet(data) && parser.value(data).isEmpty())
        return usage(QStringLiteral("--data needs a folder."));

    options.mode = parser.isSet(once) ? MonitorOptions::Mode::Once
                   : parser.isSet(init) ? MonitorOptions::Mode::Init
                                        : MonitorOptions::Mode::Run;
    options.logFormat = format == QLatin1String("json") ? MonitorOptions::LogFormat::Json
                                                        : MonitorOptions::LogFormat::Text;
    options.dataFolder = parser.value(data);
    options.servers = parser.values(server);
    options.password = parser.value(password);
    options.passwordFile = parser.value(passwordFile);
    return options;
}

}  // namespace palisor
