#include "rcon/reply.h"

namespace palisor::rcon {

namespace {

const QByteArray kHeaderMarker("\xFF\xFF\xFF\xFF", 4);

// Substring with 1-based start and length, clamped the way the console
// client's original string routine clamps them.
QString copyClamped(const QString& text, qsizetype start, qsizetype count)
{
    if (start < 1)
        start = 1;
    if (count <= 0 || start > text.size())
        return {};
    return text.mid(start - 1, count);
}

// The bytes of one datagram after its header line, or nothing when the
// datagram does not carry the header.
QByteArray bodyOf(QByteArray datagram)
{
    const qsizetype nul = datagram.indexOf('\0');
    if (nul >= 0)
        datagram.truncate(nul);

    qsizetype end = 0;
    while (end < datagram.size() && datagram[end] != '\r' && datagram[end] != '\n')
        ++end;
    if (!datagram.left(end).contains(kHeaderMarker))
        return {};
    if (end < datagram.size() && datagram[end] == '\r')
        ++end;
    if (end < datagram.size() && datagram[end] == '\n')
        ++end;
    return datagram.mid(end);
}

QString upperAsciiLetters(QString text)
{
    for (QChar& c : text) {
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - (u'a' - u'A'));
    }
    return text;
}

}  // namespace

QByteArray frameRequest(const QString& payload)
{
    return QByteArray("\xFF\xFF\xFF\xFF\x02", 5) + payload.toLatin1();
}

QString commandPayload(const QString& password, const QString& command)
{
    return QStringLiteral("rcon \"") + password + QStringLiteral("\" ") + command;
}

QStringList splitLines(const QString& text)
{
    QStringList lines;
    const qsizetype nul = text.indexOf(QChar(u'\0'));
    const qsizetype size = nul >= 0 ? nul : text.size();
    qsizetype pos = 0;
    while (pos < size) {
        const qsizetype start = pos;
        while (pos < size && text[pos] != u'\r' && text[pos] != u'\n')
            ++pos;
        lines.append(text.mid(start, pos - start));
        if (pos < size && text[pos] == u'\r')
            ++pos;
        if (pos < size && text[pos] == u'\n')
            ++pos;
    }
    return lines;
}

QString joinLines(const QStringList& lines)
{
    QString text;
    for (const QString& line : lines)
        text += line + QStringLiteral("\r\n");
    return text;
}

QString rejoinLines(const QString& text) { return joinLines(splitLines(text)); }

QString assembleReply(const QList<QByteArray>& datagrams)
{
    QByteArray body;
    for (const QByteArray& datagram : datagrams) {
        body += bodyOf(datagram);
        if (body.size() >= MaxReplyBytes) {
            body.truncate(MaxReplyBytes);
            break;
        }
    }
    const QString reply = joinLines(splitLines(QString::fromLatin1(body)));
    return reply.isEmpty() ? QString::fromLatin1(CommandExecuted) : reply;
}

QString refusalOf(const QString& reply)
{
    const QStringList lines = splitLines(reply);
    if (lines.isEmpty())
        return {};
    const QString first = upperAsciiLetters(lines.first());
    if (first == QLatin1String("BAD RCONPASSWORD."))
        return reply;
    if (first == QLatin1String("NO RCONPASSWORD SET ON THE SERVER."))
        return QStringLiteral("No rconpassword set on the server.");
    return {};
}

QString cutVariableValue(const QString& reply)
{
    // Positions are 1-based, 0 meaning "not found".
    const qsizetype front = reply.indexOf(QStringLiteral("is:\"")) + 1;
    const qsizetype back = reply.indexOf(QStringLiteral("\" default:")) + 1;
    return copyClamped(reply, front + 4, back - front - 4);
}

}  // namespace palisor::rcon
