// palisor-sim: a stand-in for the game server's remote console on a UDP port.

#include "core/error.h"
#include "sim/simserver.h"
#include "version.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QUdpSocket>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

int signalPipe[2] = {-1, -1};

// The handler only wakes the event loop; the loop then quits in order, so
// the command log is complete when the process ends.
void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = write(signalPipe[1], &byte, 1);
}

[[noreturn]] void failStart(const QString& message)
{
    std::fprintf(stderr, "palisor-sim: %s\n", message.toLocal8Bit().constData());
    std::exit(2);
}

}  // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("palisor-sim");
    QCoreApplication::setApplicationVersion(palisor::ProductVersion);

    QCommandLineParser parser;
    parser.setApplicationDescription("Answers the game server's remote-console commands on a UDP port.");
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption portOption("port", "UDP port to listen on; 0 picks a free one (default: 12203).", "N", "12203");
    const QCommandLineOption passwordOption("password", "Remote-console password (default: none, and every request gets \"No rconpassword set on the server.\").", "P");
    const QCommandLineOption scenarioOption("scenario", "Scenario file (JSON; default: none, an empty server).", "FILE");
    const QCommandLineOption bindOption("bind", "Address to listen on (default: 127.0.0.1).", "ADDR", "127.0.0.1");
    const QCommandLineOption logOption("log", "Command log: one JSON object per received datagram (default: none).", "FILE");
    parser.addOptions({portOption, passwordOption, scenarioOption, bindOption, logOption});
    parser.process(app);

    bool portOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    if (!portOk || port > 65535)
        failStart("--port must be a number from 0 to 65535");
    QHostAddress bindAddress;
    if (!bindAddress.setAddress(parser.value(bindOption)))
        failStart("--bind: \"" + parser.value(bindOption) + "\" is not an IP address");

    std::unique_ptr<palisor::sim::SimServer> server;
    try {
        const palisor::sim::Scenario scenario = parser.isSet(scenarioOption)
                                                    ? palisor::sim::loadScenarioFile(parser.value(scenarioOption))
                                                    : palisor::sim::Scenario();
        server = std::make_unique<palisor::sim::SimServer>(scenario, parser.value(passwordOption).toLatin1());
    } catch (const palisor::Error& e) {
        failStart(e.message());
    }

    QFile log;
    if (parser.isSet(logOption)) {
        log.setFileName(parser.value(logOption));
        // Unbuffered: every line reaches the file before the reply leaves, so
        // a client that has its answer finds the request in the log.
        if (!log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            failStart("--log: cannot write " + log.fileName() + ": " + log.errorString());
    }

    QUdpSocket socket;
    if (!socket.bind(bindAddress, static_cast<quint16>(port)))
        failStart(QStringLiteral("cannot listen on %1:%2: %3")
                      .arg(bindAddress.toString()).arg(port).arg(socket.errorString()));

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        failStart("cannot create the signal pipe");
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);

    QElapsedTimer clock;
    clock.start();
    QObject::connect(&socket, &QUdpSocket::readyRead, [&] {
        while (socket.hasPendingDatagrams()) {
            const QNetworkDatagram datagram = socket.receiveDatagram();
            const palisor::sim::Reception r =
                server->receive(datagram.data(), static_cast<quint16>(datagram.senderPort()), clock.elapsed());
            if (log.isOpen())
                log.write(palisor::sim::logLine(r.entry));
            for (const QByteArray& reply : r.datagrams)
                socket.writeDatagram(reply, datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()));
        }
    });

    std::printf("palisor-sim listening on %s:%u\n", bindAddress.toString().toLatin1().constData(),
                static_cast<unsigned>(socket.localPort()));
    std::fflush(stdout);
    return app.exec();
}
