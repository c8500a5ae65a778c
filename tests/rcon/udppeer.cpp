#include "udppeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace {

int boundSocket(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw std::runtime_error("cannot bind a loopback UDP socket");
    port = ntohs(address.sin_port);
    return fd;
}

}  // namespace

UdpPeer::UdpPeer() { socket_ = boundSocket(port_); }

UdpPeer::~UdpPeer()
{
    if (thread_.joinable())
        thread_.join();
    ::close(socket_);
}

bool UdpPeer::receiveRequest(sockaddr_in& client)
{
    pollfd entry{socket_, POLLIN, 0};
    if (::poll(&entry, 1, 20000) != 1)
        return false;
    char buffer[65536];
    socklen_t length = sizeof client;
    const ssize_t size = ::recvfrom(socket_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&client), &length);
    if (size < 0)
        return false;
    request_ = QByteArray(buffer, size);
    return true;
}

void UdpPeer::answer(QList<QByteArray> replies, QByteArray strayFirst)
{
    thread_ = std::thread([this, replies = std::move(replies), stray = std::move(strayFirst)] {
        sockaddr_in client{};
        if (!receiveRequest(client))
            return;
        const auto to = reinterpret_cast<const sockaddr*>(&client);
        if (!stray.isEmpty()) {
            int strayPort = 0;
            const int other = boundSocket(strayPort);
            ::sendto(other, stray.constData(), static_cast<size_t>(stray.size()), 0, to, sizeof client);
            ::close(other);
        }
        for (const QByteArray& reply : replies)
            ::sendto(socket_, reply.constData(), static_cast<size_t>(reply.size()), 0, to, sizeof client);
    });
}

void UdpPeer::flood(QByteArray datagram, int milliseconds)
{
    thread_ = std::thread([this, datagram = std::move(datagram), milliseconds] {
        sockaddr_in client{};
        if (!receiveRequest(client))
            return;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        while (std::chrono::steady_clock::now() < end)
            ::sendto(socket_, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
                     reinterpret_cast<const sockaddr*>(&client), sizeof client);
    });
}

QByteArray UdpPeer::request()
{
    if (thread_.joinable())
        thread_.join();
    return request_;
}

int closedPort()
{
    int port = 0;
    ::close(boundSocket(port));
    return port;
}
