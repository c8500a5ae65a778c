#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The text handling of a remote-console exchange, free of any socket, so that
// the exact byte rules can be exercised directly.
namespace palisor::rcon {

// What an exchange returns when the server printed nothing.
inline constexpr char CommandExecuted[] = "Command Executed";

// The most reply text one command collects; a server that sends more is
// cut off, and the rest of its output is dropped.
inline constexpr qsizetype MaxReplyBytes = 1 << 20;

// Request datagram: FF FF FF FF 02 and the payload in Latin-1, no terminator.
QByteArray frameRequest(const QString& payload);

// The console payload: rcon "<password>" <command>, both taken unchanged.
QString commandPayload(const QString& password, const QString& command);

// Lines of a text broken at CR, LF or CR LF; a NUL ends the text. A final line
// end adds no empty line, but empty lines inside the text are kept.
QStringList splitLines(const QString& text);

// Every line followed by CR LF.
QString joinLines(const QStringList& lines);

// The text re-split and re-joined, so every line ends with CR LF.
QString rejoinLines(const QString& text);

// Reply text from the datagrams the server sent for one command, in arrival
// order. Each datagram's text ends at its first NUL; a datagram whose first
// line lacks the four FF bytes is not a console reply and is skipped; the
// header line of every other one is dropped and the rest is joined as raw
// text, because the server may split its output in the middle of a line.
// The joined text stops at MaxReplyBytes. An empty result becomes
// "Command Executed".
QString assembleReply(const QList<QByteArray>& datagrams);

// The error a reply stands for when the server refused the command, judged
// by its first line alone (player names on later lines never count), in any
// case of the letters a to z: "Bad rconpassword." gives the reply text
// itself, "No rconpassword set on the server." gives that text. Empty when
// the reply is no refusal.
QString refusalOf(const QString& reply);

// The value of a variable from the server's answer to its bare name,
// "name" is:"value" default:"...". Cut from the first is:" to the first
// " default: as the console client always has, including the odd answers in
// which one marker is missing or they come in the wrong order.
QString cutVariableValue(const QString& reply);

}  // namespace palisor::rcon
