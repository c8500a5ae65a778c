#include "rcon/rcon.h"

#include "core/error.h"
#include "rcon/reply.h"

#include <chrono>
#include <cerrno>
#include <cstring>
#include <exception>
#include <optional>
#include <vector>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

palisor::TRcon Rcon;

namespace palisor {

namespace {

using Clock = std::chrono::steady_clock;

const char kTimedOut[] = "Command Timed Out";
constexpr int kCommandTimeout = 5000;

[[noreturn]] void raiseSocketError(int code, const char* description)
{
    throw Error(QStringLiteral("Socket Error # ") + QString::number(code) + QStringLiteral("\r\n")
                + QString::fromLocal8Bit(description));
}

[[noreturn]] void raiseSocketError(int code) { raiseSocketError(code, std::strerror(code)); }

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits until the socket is readable or the deadline passes (no deadline:
// without limit). True when readable, including a pending error report.
bool waitReadable(int fd, std::optional<Clock::time_point> deadline)
{
    for (;;) {
        pollfd entry{fd, POLLIN, 0};
        const int result = ::poll(&entry, 1, deadline ? millisecondsUntil(*deadline) : -1);
        if (result > 0)
            return true;
        if (result == 0)
            return false;
        if (errno != EINTR)
            raiseSocketError(errno);
    }
}

void sleepUntil(Clock::time_point deadline)
{
    while (Clock::now() < deadline)
        ::poll(nullptr, 0, millisecondsUntil(deadline));
}

}  // namespace

TRcon::~TRcon() { closeSocket(); }

void TRcon::openSocket()
{
    if (socket_ >= 0)
        return;
    socket_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0)
        raiseSocketError(errno);
}

void TRcon::closeSocket()
{
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
}

void TRcon::send(const QString& payload)
{
    if (Port < 1 || Port > 65535)
        throw Error(QStringLiteral("The port must be 1-65535, not %1").arg(Port));

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = ::getaddrinfo(Host.toLatin1().constData(), nullptr, &hints, &found);
    if (resolved == EAI_SYSTEM)
        raiseSocketError(errno);
    if (resolved != 0)
        raiseSocketError(resolved, ::gai_strerror(resolved));
    sockaddr_in server{};
    std::memcpy(&server, found->ai_addr, sizeof server);
    ::freeaddrinfo(found);
    server.sin_port = htons(static_cast<uint16_t>(Port));

    if (::connect(socket_, reinterpret_cast<const sockaddr*>(&server), sizeof server) != 0)
        raiseSocketError(errno);
    const QByteArray frame = rcon::frameRequest(payload);
    if (::send(socket_, frame.constData(), static_cast<size_t>(frame.size()), 0) < 0)
        raiseSocketError(errno);
}

QByteArray TRcon::receive()
{
    std::vector<char> buffer(static_cast<size_t>(BufferSize > 0 ? BufferSize : 0));
    ssize_t length;
    do {
        length = ::recv(socket_, buffer.data(), buffer.size(), MSG_TRUNC);
    } while (length < 0 && errno == EINTR);
    if (length < 0)
        raiseSocketError(errno);
    if (static_cast<size_t>(length) > buffer.size())
        raiseSocketError(EMSGSIZE);
    return QByteArray(buffer.data(), length);
}

QString TRcon::Exchange(const QString& payload)
{
    // Nothing has reached the server when opening, resolving or sending
    // fails, so these failures are raised at once, without the pause.
    openSocket();
    try {
        send(payload);
    } catch (...) {
        closeSocket();
        throw;
    }

    QList<QByteArray> datagrams;
    std::exception_ptr failure;
    try {
        std::optional<Clock::time_point> deadline;
        if (ReceiveTimeout >= 0)
            deadline = Clock::now() + std::chrono::milliseconds(ReceiveTimeout);
        if (!waitReadable(socket_, deadline)) {
            ++timeoutCount_;
            throw Error(QString::fromLatin1(kTimedOut));
        }
        datagrams.append(receive());
    } catch (...) {
        failure = std::current_exception();
    }

    // Further datagrams of the reply are collected during the pause, and only
    // then: a server that keeps sending neither stretches the pause nor fills
    // the memory.
    const Clock::time_point pauseEnd = Clock::now() + std::chrono::milliseconds(ExchangePause);
    try {
        qsizetype collected = datagrams.isEmpty() ? 0 : datagrams.first().size();
        while (!failure && collected < rcon::MaxReplyBytes && Clock::now() < pauseEnd
               && waitReadable(socket_, pauseEnd)) {
            datagrams.append(receive());
            collected += datagrams.last().size();
        }
    } catch (...) {
        failure = std::current_exception();
    }
    closeSocket();
    timeoutCount_ = 0;
    sleepUntil(pauseEnd);

    if (failure)
        std::rethrow_exception(failure);
    return rcon::assembleReply(datagrams);
}

QString TRcon::Command(const QString& command)
{
    timeoutCount_ = 0;
    ReceiveTimeout = kCommandTimeout;
    const QString reply = rcon::rejoinLines(Exchange(rcon::commandPayload(Password, command)));
    const QString refusal = rcon::refusalOf(reply);
    if (!refusal.isEmpty())
        throw Error(refusal);
    return reply;
}

QString TRcon::QueryVariable(const QString& name) { return rcon::cutVariableValue(Command(name)); }

}  // namespace palisor
