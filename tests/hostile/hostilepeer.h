#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include <netinet/in.h>

namespace palisor::test {

// A game server on 127.0.0.1 that answers the way the simulator never would:
// each request goes to a handler, in the peer's own thread, and the handler's
// datagrams are sent back from the peer's port. While the handler runs, the
// client is waiting for its reply, so whatever the handler sends with
// spoof() arrives during the exchange, from another port.
class HostilePeer {
public:
    using Handler = std::function<QList<QByteArray>(const QByteArray& request, HostilePeer& peer)>;

    explicit HostilePeer(Handler handler);
    ~HostilePeer();
    HostilePeer(const HostilePeer&) = delete;
    HostilePeer& operator=(const HostilePeer&) = delete;

    quint16 port() const { return port_; }

    // The console commands received so far, in order (the text after the
    // password), one character per byte.
    QStringList commands() const;

    // Sends the datagram `count` times to the client of the request being
    // handled, from a port other than the peer's.
    void spoof(const QByteArray& datagram, int count);

    // Forwards a request to a server on 127.0.0.1 and returns what it
    // answered: every datagram that arrives within `settleMs` of the first,
    // nothing when the first does not come within 6 seconds.
    static QList<QByteArray> relay(const QByteArray& request, quint16 serverPort, int settleMs = 100);

    // The command text of a console request.
    static QString commandOf(const QByteArray& request);

private:
    void serve();

    Handler handler_;
    int socket_ = -1;
    int spoofSocket_ = -1;
    quint16 port_ = 0;
    sockaddr_in client_{};
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    QStringList commands_;
    std::thread thread_;
};

// The header line of every console reply.
inline QByteArray ReplyHeader() { return QByteArray("\xFF\xFF\xFF\xFF\x01print\n", 11); }

}  // namespace palisor::test
