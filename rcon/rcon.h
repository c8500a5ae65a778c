#pragma once

#include <QString>

namespace palisor {

// The remote-console client: sends one framed console command to the game
// server in a UDP datagram and returns the server's printed reply.
//
// Every exchange opens a fresh socket, connected to the server so that only
// the server's own address and port can answer (and so that a closed port is
// reported), and closes it before returning; no reply of an earlier command
// can be read by a later one. Failures are palisor::Error; only socket
// failures carry "Socket Error # ", only a refused password carries
// "bad rconpassword", only a server without a console password carries
// "No rconpassword set on the server." and only a port out of range carries
// "The port must be 1-65535", because the monitor tells failures apart by
// these words.
class TRcon {
public:
    // Time-outs an exchange counts before it fails. An exchange sends once and
    // waits once (commands such as "say" and "clientkick" must not be repeated),
    // so its first time-out already reaches the end of its patience.
    static constexpr int MaxTimeouts = 2;

    QString Host;              // host name or dotted address, resolved on every send
    int Port = 0;
    int ReceiveTimeout = -1;   // milliseconds to wait for the reply; negative waits without limit
    int BufferSize = 65536;    // largest reply datagram that can be read
    QString Password;          // written into every console command
    // Pause after every exchange. It keeps commands at least this far apart,
    // below the server's flood limit, and the further datagrams of a long
    // reply that arrive meanwhile are joined to it.
    int ExchangePause = 1000;

    TRcon() = default;
    ~TRcon();
    TRcon(const TRcon&) = delete;
    TRcon& operator=(const TRcon&) = delete;

    bool Active() const { return socket_ >= 0; }
    // Time-outs of the exchange in progress; 0 whenever none runs.
    int TimeoutCount() const { return timeoutCount_; }

    // Sends FF FF FF FF 02 and the payload to Host:Port and returns the reply
    // text (each line ended by CR LF, or "Command Executed" when the server
    // printed nothing). Waits ReceiveTimeout for the reply; silence fails with
    // "Command Timed Out".
    QString Exchange(const QString& payload);
    // Runs one console command with Password, waiting at most 5000 ms. A
    // non-empty reply always ends with CR LF.
    QString Command(const QString& command);
    // The current value of a server variable; empty when the server lacks it.
    QString QueryVariable(const QString& name);

private:
    void openSocket();
    void closeSocket();
    void send(const QString& payload);
    QByteArray receive();

    int socket_ = -1;
    int timeoutCount_ = 0;
};

}  // namespace palisor

// The one remote-console client, shared by every window, alive for the whole run.
extern palisor::TRcon Rcon;
