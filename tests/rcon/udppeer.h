#pragma once

#include <QByteArray>
#include <QList>

#include <thread>

#include <netinet/in.h>

// A game server stand-in on 127.0.0.1 that answers one request with scripted
// datagrams, optionally preceded by a datagram from a different port.
class UdpPeer {
public:
    UdpPeer();
    ~UdpPeer();

    int port() const { return port_; }
    // Starts waiting for one request in the background.
    void answer(QList<QByteArray> replies, QByteArray strayFirst = {});
    // Answers one request with the datagram again and again for this long.
    void flood(QByteArray datagram, int milliseconds);
    // The request received (empty if none came); waits for the answer to finish.
    QByteArray request();

private:
    // Waits for the request and keeps it; false when none came.
    bool receiveRequest(sockaddr_in& client);

    int socket_ = -1;
    int port_ = 0;
    QByteArray request_;
    std::thread thread_;
};

// A loopback port that nothing listens on.
int closedPort();
