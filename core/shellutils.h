#pragma once

#include <QString>
#include <cstdint>

class QAction;
class QMenu;

namespace palisor {

// Writes the text line by line, every line (the last included) ended by CR LF,
// one byte per character (Latin-1). Throws palisor::Error with the
// system's message when the file cannot be written.
void SaveTextFile(const QString& fileName, const QString& text);
// "Save As" dialog through the dialog seam; on confirmation SaveTextFile.
void SaveTextAs(const QString& suggestedName, const QString& text);
// "Open" dialog through the dialog seam; the chosen full name or empty text.
QString ChooseOpenFile(const QString& extension);

// The digits of the text read as a signed 64-bit number ("12a3" -> 123,
// "" -> 0). Throws palisor::Error on a number beyond the 64-bit range.
std::int64_t DigitsOnly(const QString& text);
// True exactly when the text in upper case (a-z only) is "TRUE".
bool IsTrueText(const QString& text);
// Zeros in front up to the width; never shortens.
QString PadZeros(const QString& text, int width);
// True for C0 and C1 control characters and DEL.
bool IsControlCharacter(QChar c);
// The text with every control character written as an escape (\n, \r, \t,
// \x01), so that a text from the network (a player's name, a server's reply)
// keeps to one line of a log or a terminal and cannot pose as a line of its own.
QString EscapeControls(const QString& text);
// A message as one line of a log or of standard error: the line breaks that
// end it (a server's reply ends with one) dropped, the rest escaped.
QString OneLine(const QString& text);
// Runs a command line and waits for it; the executable's folder is searched
// before PATH. Returns the exit code (-1 when it cannot be read). Throws
// palisor::Error "CREATE PROCESS FAILED:" + command line when nothing
// could be started, "WAIT FAILED:" + command line when the wait fails.
// A hidden run has no terminal at all: its standard input is empty and it
// cannot open the terminal Palisor was started from, so a tool that asks a
// question ends instead of waiting for an answer nobody gives. With output
// given, a hidden run's standard and error output are collected there.
int RunAndWait(const QString& commandLine, bool showWindow, QString* output = nullptr);

}  // namespace palisor
