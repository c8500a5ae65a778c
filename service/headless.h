#pragma once

#include "monitor/engine.h"

#include <QObject>
#include <QString>
#include <memory>

namespace palisor {

class EventWriter;
class MonitorThread;
class TDataPalisor;
struct SettingsRow;
class TRcon;

// The server information and the players after one poll, as --once prints them.
struct StatusReport {
    QString name;                    // the server's name in the database
    QString server;                  // HOST:PORT as the settings give it
    QString boxes[5];                // by ServerBox
    QList<QStringList> players;      // CLIENTID, NAME, ADDRESS, PORT, PING
};

// The monitor engine of one game server driven without a window. The engine
// reads the server's settings row and the lists through its own attachment;
// everything it reports becomes an event line that names the server. Lives
// on the program's main thread; when the monitor cannot run or an error
// stopped it, it says so with ended().
class HeadlessMonitor : public QObject {
    Q_OBJECT
public:
    // data is the program's data module: the engine makes its own attachment
    // like it, working for the server numbered serverId, and errors go to its
    // event log as the window writes them. name is the server's, for the lines.
    HeadlessMonitor(TDataPalisor& data, int serverId, const QString& name, TRcon& rcon, EventWriter& events);
    // The exit code while another monitor holds the game server.
    static constexpr int ExitClaimed = 75;
    // Ends the engine after the exchange in progress and closes its attachment.
    ~HeadlessMonitor() override;

    // Starts the monitor with the settings row; a server without a console
    // password waits for one (said once by a "wait" line).
    void Start();
    // Re-reads the settings and the lists; a changed scan time or
    // announcement setting restarts the monitor with them, and a monitor
    // that waited for a password or was stopped by an error starts again.
    // Done by itself, before the next poll, when a commit changes this
    // server's settings row, with a "reload" line naming the server.
    void Reload();
    // The server was renamed: the lines from now on carry the new name.
    void Rename(const QString& name) { name_ = name; }
    // Whether the monitor has ended (see ended()) and has not started again.
    bool Ended() const { return ending_; }
    int ExitCode() const { return exitCode_; }
    // One poll like the window's Status; `done` gets the report, or the
    // error's text.
    void Once(std::function<void(const StatusReport& report, const QString& error)> done);

    // The engine's thread, for its thread-safe calls.
    MonitorThread& Monitor() { return *thread_; }

signals:
    // The monitor cannot run or an error stopped it: exitCode is what the
    // program ends with when no other server is left (1; 75 while another
    // monitor holds the server; 78 for what only the administrator can mend).
    void ended(int exitCode);
    // The database server was gone and the engine is back on it.
    void databaseBack();

private:
    // Runs work on the engine's thread; an error there ends the program.
    void Post(std::function<void(MonitorEngine&)> work);
    void StartWith(MonitorEngine& engine, const SettingsRow& row);
    // On the engine's thread: applies the row read now; quietly nothing when
    // it equals the one applied last, unless forced.
    void Apply(MonitorEngine& engine, bool forced);
    void Write(const QString& event, QList<std::pair<QString, QVariant>> fields = {});
    void Report(const MonitorEvent& event);
    void WriteStop();
    void Failed(const QString& message);
    // The monitor has ended with exitCode (1, or 78 for what only the
    // administrator can mend), the message on standard error.
    void Fatal(const QString& message, int exitCode = 1);

    TDataPalisor& data_;
    QString name_;
    EventWriter& events_;
    std::unique_ptr<MonitorThread> thread_;
    MonitorSettings settings_;   // as last read, for the start event
    QVariant announcements_;     // the same: their interval in minutes, 0 when off
    QString stopReason_;         // why the engine's next stop happens
    QString lastError_;
    bool stopPending_ = false;   // the engine stopped; its line is not written yet
    bool once_ = false;
    bool monitoring_ = false;    // Start was asked for
    bool ending_ = false;
    int exitCode_ = 0;
    bool waitSaid_ = false;      // the "wait" line for a missing password is written
    // On the engine's thread: the settings row applied last.
    std::unique_ptr<SettingsRow> applied_;
    QString boxes_[5];           // the server information as last shown, by ServerBox
};

// The report as --once prints it in the text format: the server information,
// a blank line, the player table.
QString StatusReportText(const StatusReport& report);
// The report as one json line's fields.
QList<std::pair<QString, QVariant>> StatusReportFields(const StatusReport& report);

}  // namespace palisor
