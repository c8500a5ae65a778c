#include "sim/simserver.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace palisor::sim {

const Bytes replyHeader = Bytes("\xFF\xFF\xFF\xFF\x01", 5) + "print\n";

Bytes logLine(const LogEntry& e)
{
    QJsonObject o;
    o["seq"] = e.seq;
    o["port"] = e.sourcePort;
    o["rcon"] = e.rcon;
    o["payload"] = QString::fromLatin1(e.payload);
    o["password"] = QString::fromLatin1(e.password);
    o["command"] = QString::fromLatin1(e.command);
    o["accepted"] = e.accepted;
    o["answered"] = e.answered;
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QList<Bytes> frameReply(const Bytes& text, int split)
{
    const qsizetype chunk = split > 0 ? split : maxDatagramText;
    QList<Bytes> datagrams;
    qsizetype at = 0;
    do {
        datagrams.append(replyHeader + text.mid(at, chunk));
        at += chunk;
    } while (at < text.size());
    return datagrams;
}

SimServer::SimServer(const Scenario& scenario, const Bytes& password)
    : scenario_(scenario),
      password_(password),
      state_(scenario),
      console_(state_),
      timeline_(scenario.timeline, scenario.loopSeconds)
{
    timeline_.afterStatus(0, state_, console_);
}

bool SimServer::dropped(qint64 elapsedMs)
{
    ++rconRequests_;
    if (scenario_.silent || rconRequests_ % scenario_.answerEvery != 0)
        return true;
    if (scenario_.minIntervalMs > 0 && lastAnsweredMs_ >= 0
        && elapsedMs - lastAnsweredMs_ < scenario_.minIntervalMs)
        return true;
    lastAnsweredMs_ = elapsedMs;
    return false;
}

Reception SimServer::receive(const Bytes& datagram, quint16 sourcePort, qint64 elapsedMs)
{
    Reception r;
    LogEntry& e = r.entry;
    e.seq = ++seq_;
    e.sourcePort = sourcePort;
    timeline_.atTime(elapsedMs, state_, console_);

    if (datagram.size() < 5 || !datagram.startsWith("\xFF\xFF\xFF\xFF")) {
        e.payload = datagram;
        return r;
    }
    // After the four FF bytes comes one direction byte; the request is the
    // text up to the first NUL or line feed.
    e.payload = datagram.mid(5);
    qsizetype end = e.payload.size();
    for (char stop : {'\0', '\n'}) {
        const qsizetype at = e.payload.indexOf(stop);
        if (at >= 0 && at < end)
            end = at;
    }
    const Bytes line = e.payload.left(end);
    const QList<Bytes> words = tokenize(line);
    if (words.isEmpty() || words[0].toLower() != "rcon")
        return r;

    e.rcon = true;
    e.password = words.value(1);
    e.accepted = !password_.isEmpty() && e.password == password_;
    // The engine steps over "rcon" and the password word by blanks instead of
    // tokens, so the command keeps its own quotes and spacing.
    qsizetype i = std::min<qsizetype>(4, line.size());
    while (i < line.size() && line[i] == ' ')
        ++i;
    while (i < line.size() && line[i] != ' ')
        ++i;
    while (i < line.size() && line[i] == ' ')
        ++i;
    e.command = line.mid(i);

    if (dropped(elapsedMs))
        return r;
    e.answered = true;
    Bytes text;
    if (password_.isEmpty()) {
        text = "No rconpassword set on the server.\n";
    } else if (!e.accepted) {
        text = "Bad rconpassword.\n";
    } else {
        const int before = state_.statusCount();
        text = console_.execute(e.command);
        if (state_.statusCount() != before)
            timeline_.afterStatus(state_.statusCount(), state_, console_);
    }
    r.datagrams = frameReply(text, scenario_.split);
    return r;
}

}  // namespace palisor::sim
