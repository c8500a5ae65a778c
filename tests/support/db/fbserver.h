#pragma once

#include <QString>
#include <QTemporaryDir>
#include <sys/types.h>

namespace palisor::test {

// A private Firebird server on a free loopback port, for the tests of a
// database shared between machines: its own configuration root, security
// database, lock folder and one user (with the right to create databases)
// whose password only this instance knows. Runs the server program named by
// PALISOR_FIREBIRD_SERVER (scripts/install-deps unpacks it into the build
// folder) and stops it, and removes everything, with the object; a test
// process that dies takes its server with it. Throws palisor::Error when the
// server cannot be started.
//
//   static palisor::test::FirebirdServer& server = palisor::test::FirebirdServer::shared();
//   server.location("LISTS.FDB")   // "127.0.0.1/40123:/tmp/.../db/LISTS.FDB"
class FirebirdServer {
public:
    // wireCrypt: the server's WireCrypt setting (Required, Enabled, Disabled).
    explicit FirebirdServer(const QString& wireCrypt = QStringLiteral("Required"));
    ~FirebirdServer();
    FirebirdServer(const FirebirdServer&) = delete;
    FirebirdServer& operator=(const FirebirdServer&) = delete;

    // One server for the whole test program, started at the first call and
    // stopped as the program ends.
    static FirebirdServer& shared();

    int port() const { return port_; }
    // Where the server takes the connections that carry database events.
    int auxPort() const { return auxPort_; }
    QString user() const { return QStringLiteral("palisor"); }
    QString password() const { return password_; }
    // The only folder the server opens databases in.
    QString databaseFolder() const;
    // A database of that folder as a client names it.
    QString location(const QString& fileName) const;
    // How long the last start took, from the program's start until it
    // answered with this instance's password.
    qint64 startMilliseconds() const { return startMs_; }

    // Kills the server at once (SIGKILL), as a crash or a pulled plug would:
    // its clients learn it at their connections' next use.
    void kill();
    // Starts it again on the same ports, with the same databases; throws
    // palisor::Error when it does not answer.
    void restart();

private:
    void prepareRoot();
    void makeSecurityDatabase();
    void writeSettings();
    bool start();   // false when the port turned out to be another's
    void stop();

    QTemporaryDir dir_;
    QString root_;
    QString password_;
    QString wireCrypt_;
    int port_ = 0;
    int auxPort_ = 0;
    pid_t pid_ = -1;
    qint64 startMs_ = 0;
};

}  // namespace palisor::test
