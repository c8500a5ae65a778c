#pragma once

#include <QString>
#include <QStringList>

namespace palisor {

// What palisor-monitor was asked to do by its command line.
struct MonitorOptions {
    enum class Mode {
        Run,      // monitor until SIGTERM or SIGINT
        Once,     // one poll like the window's Status, print, exit
        Init,     // make the database in the data folder, exit
        Help,
        Version,
        Usage,    // bad usage: `text` says what, exit 2
    };
    enum class LogFormat { Text, Json };

    Mode mode = Mode::Run;
    LogFormat logFormat = LogFormat::Text;
    QString dataFolder;     // empty: the folder the window uses
    QStringList servers;    // --server: the servers to monitor; empty: every one
    // --init: the remote-console password, given or read from the first line
    // of a file ("-" for standard input).
    QString password;
    QString passwordFile;
    QString text;           // the help, the version or what is wrong
};

// Reads palisor-monitor's arguments (the program name first).
MonitorOptions ParseMonitorOptions(const QStringList& arguments);

}  // namespace palisor
