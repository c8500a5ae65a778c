#include "ctl/cli.h"

#include "core/timing.h"
#include "ctl/commands.h"
#include "ctl/database.h"
#include "ctl/password.h"
#include "ctl/session.h"
#include "store/datapalisor.h"
#include "version.h"

#include <CLI/CLI.hpp>
#include <QSaveFile>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace palisor::ctl {

namespace {

const char Program[] = "palisorctl";

QString q(const std::string& text) { return QString::fromStdString(text); }

void write(std::FILE* to, const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), to);
    std::fflush(to);
}

int fail(const QString& message, int status)
{
    write(stderr, QStringLiteral("%1: %2\n").arg(QLatin1String(Program), message));
    if (status == 2)
        write(stderr, QStringLiteral("Try '%1 --help'.\n").arg(QLatin1String(Program)));
    return status;
}

// Every subcommand's arguments; only one subcommand runs.
struct Arguments {
    std::string data, server, newName, name, address, reason, text, file, kind, grep, since, format = "text", mapName, alias;
    int from = 0, to = 0;
    int maxAge = -1, warningPing = -1;   // not given
    std::vector<std::string> assignments;
};

using Command = std::function<QString(TDataPalisor&)>;

// A leaf subcommand: its command is chosen when the command line names it.
CLI::App* leaf(CLI::App* parent, const char* name, const char* help, Command& chosen, Command command)
{
    CLI::App* sub = parent->add_subcommand(name, help);
    sub->callback([&chosen, command] { chosen = command; });
    return sub;
}

CLI::App* group(CLI::App* parent, const char* name, const char* help)
{
    CLI::App* sub = parent->add_subcommand(name, help);
    sub->require_subcommand(1);
    return sub;
}

std::optional<QDateTime> since(const Arguments& a)
{
    if (a.since.empty())
        return std::nullopt;
    return SinceTime(q(a.since), now());
}

void addSettings(CLI::App& app, Arguments& a, Command& chosen, QString& password)
{
    CLI::App* settings = group(&app, "settings", "Show or change the game server's settings");
    leaf(settings, "show", "Print the settings", chosen, [](TDataPalisor& d) { return SettingsShow(d); });
    leaf(settings, "set", "Change settings: address=, port=, scan-time=, max-ping=, announcements=on|off, interval=",
         chosen,
         [&a](TDataPalisor& d) {
             QStringList assignments;
             for (const std::string& s : a.assignments)
                 assignments << q(s);
             SettingsSet(d, assignments);
             return QString();
         })
        ->add_option("key=value", a.assignments, "The settings to change")
        ->required();
    CLI::App* pass = group(&app, "password", "Change the remote-console password");
    leaf(pass, "set", "Set the password, typed at the terminal or read from a file", chosen,
         [&password](TDataPalisor& d) {
             PasswordSet(d, password);
             return QString();
         })
        ->add_option("--password-file", a.file, "Read the password from FILE's first line; - for standard input")
        ->type_name("FILE");
}

// The add subcommand, whose password is read before the folder is taken.
CLI::App* addServers(CLI::App& app, Arguments& a, Command& chosen, std::optional<QString>& password)
{
    CLI::App* server = group(&app, "server", "The game servers the database holds");
    const auto assignments = [&a] {
        QStringList typed;
        for (const std::string& s : a.assignments)
            typed << q(s);
        return typed;
    };
    CLI::App* add = leaf(server, "add", "Add a server: address= and port=, then scan-time=, max-ping=, ...", chosen,
                         [&a, &password, assignments](TDataPalisor& d) {
                             ServerAdd(d, q(a.name), assignments(), password);
                             return QString();
                         });
    add->add_option("name", a.name, "The server's name, up to 40 characters")->required();
    add->add_option("key=value", a.assignments, "Its settings, as settings set takes them")->required();
    add->add_option("--password-file", a.file, "Its console password from FILE's first line; - for standard input")
        ->type_name("FILE");
    CLI::App* set = leaf(server, "set", "Change a server's settings, as settings set does", chosen,
                         [&a, assignments](TDataPalisor& d) {
                             ServerSet(d, q(a.name), assignments());
                             return QString();
                         });
    set->add_option("name", a.name)->required();
    set->add_option("key=value", a.assignments, "The settings to change")->required();
    CLI::App* rename = leaf(server, "rename", "Give a server another name", chosen, [&a](TDataPalisor& d) {
        ServerRename(d, q(a.name), q(a.newName));
        return QString();
    });
    rename->add_option("old", a.name)->required();
    rename->add_option("new", a.newName)->required();
    leaf(server, "remove", "Remove a server with its players and samples; its penalty-log rows stay", chosen,
         [&a](TDataPalisor& d) {
             ServerRemove(d, q(a.name));
             return QString();
         })
        ->add_option("name", a.name)
        ->required();
    leaf(server, "list", "Print name, address:port, scan time, max ping and who monitors it", chosen,
         [](TDataPalisor& d) { return ServerList(d, QDateTime::currentDateTimeUtc()); });
    return add;
}

void addNameLists(CLI::App& app, Arguments& a, Command& chosen)
{
    for (const char* list : {"immune", "illegal"}) {
        const QString name = QLatin1String(list);
        CLI::App* sub = group(&app, list,
                              name == QLatin1String("immune") ? "Players who are never kicked"
                                                              : "Words that may not appear in a player name");
        leaf(sub, "add", "Add a name", chosen, [&a, name](TDataPalisor& d) {
            NameAdd(d, name, q(a.name));
            return QString();
        })->add_option("name", a.name)->required();
        leaf(sub, "remove", "Remove a name", chosen, [&a, name](TDataPalisor& d) {
            NameRemove(d, name, q(a.name));
            return QString();
        })->add_option("name", a.name)->required();
        leaf(sub, "list", "Print the names", chosen, [name](TDataPalisor& d) { return NameList(d, name); });
    }
    CLI::App* alias = group(&app, "alias", "Display names of maps");
    CLI::App* add = leaf(alias, "add", "Give a map its display name", chosen, [&a](TDataPalisor& d) {
        AliasAdd(d, q(a.mapName), q(a.alias));
        return QString();
    });
    add->add_option("map", a.mapName)->required();
    add->add_option("alias", a.alias)->required();
    leaf(alias, "remove", "Remove a map's display name", chosen, [&a](TDataPalisor& d) {
        AliasRemove(d, q(a.mapName));
        return QString();
    })->add_option("map", a.mapName)->required();
    leaf(alias, "list", "Print the maps and their display names", chosen, [](TDataPalisor& d) { return AliasList(d); });
}

void addAnnouncements(CLI::App& app, Arguments& a, Command& chosen)
{
    CLI::App* announce = group(&app, "announce", "The announcements sent to the server's chat in turn");
    leaf(announce, "add", "Add an announcement after the last", chosen, [&a](TDataPalisor& d) {
        AnnounceAdd(d, q(a.text));
        return QString();
    })->add_option("text", a.text)->required();
    leaf(announce, "remove", "Remove the announcement at a position", chosen, [&a](TDataPalisor& d) {
        AnnounceRemove(d, a.from);
        return QString();
    })->add_option("position", a.from)->required()->check(CLI::PositiveNumber);
    CLI::App* move = leaf(announce, "move", "Move an announcement to another position", chosen, [&a](TDataPalisor& d) {
        AnnounceMove(d, a.from, a.to);
        return QString();
    });
    move->add_option("from", a.from)->required()->check(CLI::PositiveNumber);
    move->add_option("to", a.to)->required()->check(CLI::PositiveNumber);
    leaf(announce, "list", "Print the announcements with their positions", chosen,
         [](TDataPalisor& d) { return AnnounceList(d); });

    CLI::App* recent = group(&app, "recent", "Players seen on the server in the last 30 days");
    CLI::App* list = leaf(recent, "list", "Print name, address and when last seen", chosen,
                          [&a](TDataPalisor& d) { return RecentList(d, q(a.grep), since(a)); });
    list->add_option("--grep", a.grep, "Only players whose name or address holds TEXT")->type_name("TEXT");
    list->add_option("--since", a.since, "Only players seen since then: 7d, 12h, 30m, 90s or a date")->type_name("WHEN");
}

void addBans(CLI::App& app, Arguments& a, Command& chosen)
{
    CLI::App* ban = group(&app, "ban", "The banned list");
    CLI::App* add = leaf(ban, "add", "Ban a name, an address or both", chosen, [&a](TDataPalisor& d) {
        if (a.name.empty() && a.address.empty())
            throw UsageError(QStringLiteral("ban add needs --name, --address or both"));
        BanAdd(d, q(a.name), q(a.address), q(a.reason));
        return QString();
    });
    add->add_option("--name", a.name, "The player's name")->type_name("NAME");
    add->add_option("--address", a.address, "The player's IP address")->type_name("ADDRESS");
    add->add_option("--reason", a.reason, "Why, for the penalty log")->type_name("TEXT");
    CLI::App* remove = leaf(ban, "remove", "Lift the bans of a name, an address or both", chosen, [&a](TDataPalisor& d) {
        if (a.name.empty() && a.address.empty())
            throw UsageError(QStringLiteral("ban remove needs --name, --address or both"));
        const int removed = BanRemove(d, q(a.name), q(a.address));
        return QStringLiteral("Removed %1 ban%2\n").arg(removed).arg(removed == 1 ? "" : "s");
    });
    remove->add_option("--name", a.name, "The banned name")->type_name("NAME");
    remove->add_option("--address", a.address, "The banned address")->type_name("ADDRESS");
    leaf(ban, "list", "Print the bans, name TAB address", chosen, [&a](TDataPalisor& d) { return BanList(d, q(a.grep)); })
        ->add_option("--grep", a.grep, "Only bans whose name or address holds TEXT")
        ->type_name("TEXT");
    const char* kinds = "What each line holds: names, addresses or both (name TAB address)";
    CLI::App* import = leaf(ban, "import", "Ban every entry of a ban-list file", chosen, [&a](TDataPalisor& d) {
        const int banned = BanImport(d, q(a.file), BanKind(q(a.kind)));
        return QStringLiteral("Imported %1 ban%2 from %3\n").arg(banned).arg(banned == 1 ? "" : "s", q(a.file));
    });
    import->add_option("--kind", a.kind, kinds)->required()->type_name("KIND");
    import->add_option("file", a.file)->required();
    CLI::App* exported = leaf(ban, "export", "Write the banned list as a ban-list file", chosen, [&a](TDataPalisor& d) {
        const QString text = BanExport(d, BanKind(q(a.kind)));
        if (a.file.empty() || a.file == "-")
            return text;
        QSaveFile file(q(a.file));
        const QByteArray bytes = text.toLatin1();
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            throw Error(QStringLiteral("Cannot write %1: %2").arg(q(a.file), file.errorString()));
        return QString();
    });
    exported->add_option("--kind", a.kind, kinds)->required()->type_name("KIND");
    exported->add_option("file", a.file, "The file to write; standard output without one");
}

void addHistory(CLI::App& app, Arguments& a, Command& chosen)
{
    CLI::App* history = leaf(&app, "history", "Print the penalty log, oldest first", chosen,
                             [&a](TDataPalisor& d) { return History(d, q(a.kind), since(a), q(a.format)); });
    history->add_option("--kind", a.kind, "Only kicks, bans, refusals or unbans")
        ->check(CLI::IsMember({"kick", "ban", "refusal", "unban"}));
    history->add_option("--since", a.since, "Only events since then: 7d, 12h, 30m, 90s or a date")->type_name("WHEN");
    history->add_option("--format", a.format, "text, json or csv")->check(CLI::IsMember({"text", "json", "csv"}));
}

void addMonitoring(CLI::App& app, Arguments& a, Command& chosen, CheckResult& verdict)
{
    leaf(&app, "status", "Print the settings, who monitors the game server and its last poll", chosen,
         [](TDataPalisor& d) { return Status(d, QDateTime::currentDateTimeUtc()); });
    CLI::App* check = leaf(&app, "check", "Judge the last poll as a Nagios or Icinga plugin (exit 0-3)", chosen,
                           [&a, &verdict](TDataPalisor& d) {
                               const auto given = [](int value) { return value < 0 ? std::nullopt : std::optional(value); };
                               verdict = (a.server.empty() ? CheckEvery : Check)(d, QDateTime::currentDateTimeUtc(),
                                                                                 given(a.maxAge), given(a.warningPing));
                               return verdict.line + QLatin1Char('\n');
                           });
    check->add_option("--max-age", a.maxAge, "Critical without a poll for this long (default: three scan times plus 30)")
        ->type_name("SECONDS")
        ->check(CLI::Range(0, 1000000));
    check->add_option("--warning-ping", a.warningPing, "Warning when the median ping is above this")
        ->type_name("MS")
        ->check(CLI::Range(0, 1000000));
}

// Whether the command line asks for the check, whose every failure a
// monitoring system must read as UNKNOWN (status 3) on standard output.
bool checkAsked(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--data" || word == "--server")
            ++i;
        else if (word.rfind("-", 0) != 0)
            return word == "check";
    }
    return false;
}

int unknown(const QString& message)
{
    write(stdout, QStringLiteral("PALISOR UNKNOWN - %1\n").arg(message.simplified()));
    return CheckResult::Unknown;
}

// After a failed parse: the first word that names no subcommand where one
// is needed ("palisorctl frob list", "palisorctl ban frob"), so the error
// can say which; empty when the words were not the fault.
QString unknownWord(CLI::App& app, int argc, char** argv)
{
    CLI::App* level = &app;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("-", 0) == 0) {
            // An option's value is the next word unless given with "=".
            for (CLI::App* owner = level; owner && word.find('=') == std::string::npos; owner = owner->get_parent()) {
                const CLI::Option* option = owner->get_option_no_throw(word);
                if (option) {
                    i += option->get_items_expected_min() > 0 ? 1 : 0;
                    break;
                }
            }
            continue;
        }
        const std::vector<CLI::App*> subs = level->get_subcommands({});
        const auto sub = std::find_if(subs.begin(), subs.end(), [&word](const CLI::App* each) { return each->get_name() == word; });
        if (sub != subs.end()) {
            level = *sub;
        } else if (level->get_require_subcommand_min() > 0) {
            QStringList known;
            for (const CLI::App* each : subs)
                known << q(each->get_name());
            return QStringLiteral("Unknown command \"%1\" (%2)").arg(q(word), known.join(QStringLiteral(", ")));
        } else {
            return QString();
        }
    }
    return QString();
}

}  // namespace

int Run(int argc, char** argv)
{
    CLI::App app{"Administers a Palisor data folder: its settings, lists, penalty log and monitoring.", Program};
    app.set_version_flag("-v,--version", std::string(Program) + " (" + ProductName + ") " + ProductVersion);
    app.require_subcommand(1);
    // The global options are taken after the subcommand as well.
    app.fallthrough();
    Arguments a;
    app.add_option("--data", a.data, "The data folder (else $PALISOR_DATA, else the window's)")->type_name("DIR");
    app.add_option("--server", a.server, "The game server a command is about, when the database holds several")
        ->type_name("NAME");
    Command chosen;
    QString password;
    addSettings(app, a, chosen, password);
    std::optional<QString> serverPassword;
    const CLI::App* serverAdd = addServers(app, a, chosen, serverPassword);
    addNameLists(app, a, chosen);
    addAnnouncements(app, a, chosen);
    addBans(app, a, chosen);
    addHistory(app, a, chosen);
    CheckResult verdict;
    addMonitoring(app, a, chosen, verdict);
    DatabaseArguments databaseArguments;
    FolderCommand folderChosen;
    AddDatabaseCommands(app, databaseArguments, folderChosen);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            write(stdout, q(dynamic_cast<const CLI::CallForVersion*>(&e) ? e.what() + std::string("\n") : app.help()));
            return 0;
        }
        if (checkAsked(argc, argv))
            return unknown(q(e.what()));
        const QString word = unknownWord(app, argc, argv);
        return fail(word.isEmpty() ? q(e.what()) : word, 2);
    }
    try {
        // Typed before the folder is taken, so nothing waits on the typing.
        if (app.got_subcommand("password"))
            password = ReadPassword(q(a.file));
        if (serverAdd->parsed() && !a.file.empty())
            serverPassword = ReadPassword(q(a.file));
        QString out;
        if (folderChosen) {
            out = folderChosen(ChooseDataFolder(q(a.data)));
        } else {
            Session session(ChooseDataFolder(q(a.data)),
                            app.got_subcommand("check") ? Session::CheckCycleWaitSeconds : Session::CycleWaitSeconds);
            // The commands about one server's settings and monitoring need
            // it named where there are several; check then judges them all.
            ChooseServer(session.data(), q(a.server),
                         app.got_subcommand("settings") || app.got_subcommand("password") || app.got_subcommand("status"));
            out = chosen(session.data());
            session.close();
        }
        write(stdout, out);
        return app.got_subcommand("check") ? verdict.code : 0;
    } catch (const UsageError& e) {
        return app.got_subcommand("check") ? unknown(e.message()) : fail(e.message(), 2);
    } catch (const std::exception& e) {
        return app.got_subcommand("check") ? unknown(messageOf(e)) : fail(messageOf(e), 1);
    }
}

}  // namespace palisor::ctl
