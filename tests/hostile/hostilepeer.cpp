#include "tests/hostile/hostilepeer.h"

#include <chrono>
#include <stdexcept>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace palisor::test {
namespace {

int boundSocket(quint16* port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("bind");
    }
    if (port)
        *port = ntohs(address.sin_port);
    return fd;
}

bool readable(int fd, int timeoutMs)
{
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, timeoutMs) > 0;
}

}  // namespace

HostilePeer::HostilePeer(Handler handler) : handler_(std::move(handler))
{
    socket_ = boundSocket(&port_);
    spoofSocket_ = boundSocket(nullptr);
    thread_ = std::thread([this] { serve(); });
}

HostilePeer::~HostilePeer()
{
    stopping_ = true;
    thread_.join();
    ::close(socket_);
    ::close(spoofSocket_);
}

QStringList HostilePeer::commands() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return commands_;
}

QString HostilePeer::commandOf(const QByteArray& request)
{
    const qsizetype open = request.indexOf("rcon \"");
    const qsizetype close = open < 0 ? -1 : request.indexOf("\" ", open + 6);
    return close < 0 ? QString() : QString::fromLatin1(request.mid(close + 2));
}

void HostilePeer::spoof(const QByteArray& datagram, int count)
{
    for (int i = 0; i < count; ++i)
        ::sendto(spoofSocket_, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
                 reinterpret_cast<const sockaddr*>(&client_), sizeof client_);
}

QList<QByteArray> HostilePeer::relay(const QByteArray& request, quint16 serverPort, int settleMs)
{
    const int fd = boundSocket(nullptr);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(serverPort);
    ::sendto(fd, request.constData(), static_cast<size_t>(request.size()), 0,
             reinterpret_cast<const sockaddr*>(&server), sizeof server);
    QList<QByteArray> replies;
    QByteArray buffer(65536, '\0');
    int wait = 6000;
    while (readable(fd, wait)) {
        const ssize_t length = ::recv(fd, buffer.data(), static_cast<size_t>(buffer.size()), 0);
        if (length < 0)
            break;
        replies.append(buffer.left(length));
        wait = settleMs;
    }
    ::close(fd);
    return replies;
}

void HostilePeer::serve()
{
    QByteArray buffer(65536, '\0');
    while (!stopping_) {
        if (!readable(socket_, 50))
            continue;
        socklen_t length = sizeof client_;
        const ssize_t size = ::recvfrom(socket_, buffer.data(), static_cast<size_t>(buffer.size()), 0,
                                        reinterpret_cast<sockaddr*>(&client_), &length);
        if (size < 0)
            continue;
        const QByteArray request = buffer.left(size);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            commands_.append(commandOf(request));
        }
        for (const QByteArray& reply : handler_(request, *this))
            ::sendto(socket_, reply.constData(), static_cast<size_t>(reply.size()), 0,
                     reinterpret_cast<const sockaddr*>(&client_), sizeof client_);
    }
}

}  // namespace palisor::test
