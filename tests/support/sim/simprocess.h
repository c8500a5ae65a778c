#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/types.h>

namespace palisor::test {

// One datagram the simulator received, from its command log.
struct SimCommand {
    int seq = 0;
    quint16 sourcePort = 0;
    bool rcon = false;      // false: not an rcon request at all (ignored by the server)
    QString payload;        // everything after the five header bytes, Latin-1 decoded
    QString password;       // the password word as the server read it
    QString command;        // the command text the server ran (or would have run)
    bool accepted = false;  // the password matched
    bool answered = false;  // the server replied (silent and skipped requests are not)
};

// Runs the game-server simulator (palisor-sim from $PALISOR_BUILD_DIR) on a
// free loopback port for one test and reads its command log.
//
//     palisor::test::SimProcess sim;
//     const quint16 port = sim.start(R"({"players": [...], "split": 100})", "secret");
//     ... point the client at 127.0.0.1:port with password "secret" ...
//     EXPECT_EQ(sim.commandTexts(), (QStringList{"status", "clientban"}));
//
// `scenario` is JSON text when it begins with "{", otherwise a path to a
// scenario file (sim/scenarios/...); empty starts the simulator's defaults.
// An empty password starts a server without one ("No rconpassword set on the
// server."). start() throws std::runtime_error, with the simulator's own
// message, when it does not come up. The destructor stops the process; a
// test process that dies takes the simulator with it.
//
// The simulator writes a request to the log before it replies, so once a
// reply has arrived, commands() holds its request. For requests that get no
// reply (silent scenarios), use waitForCommands().
class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    quint16 start(const QString& scenario, const QString& password = QStringLiteral("secret"),
                  const QStringList& extraArguments = {});
    void stop();
    // A frozen simulator receives but never answers, like a server that hangs.
    void freeze(bool frozen);
    bool running() const { return pid_ > 0; }
    quint16 port() const { return port_; }
    QString logPath() const;

    // Logged datagrams since start() or the last clearLog(), oldest first.
    QList<SimCommand> commands() const;
    QStringList commandTexts() const;  // just the command texts of the rcon requests
    void clearLog();
    // Waits until at least `count` datagrams are logged; false on time-out.
    bool waitForCommands(int count, int timeoutMs = 5000) const;

private:
    QTemporaryDir dir_;
    pid_t pid_ = -1;
    quint16 port_ = 0;
    qint64 logOffset_ = 0;
};

}  // namespace palisor::test
