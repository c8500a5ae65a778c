#pragma once

#include <QString>
#include <QStringList>

namespace palisor {

// Splits a console reply or a text block into lines the way the program reads
// them everywhere: CR, LF and CR LF each end a line, a final line end opens
// no further line, and an empty text has no lines at all.
QStringList SplitLines(const QString& text);

// Removes blanks and control characters (every character up to 0x20) from
// both ends. Unlike QString::trimmed it keeps 0xA0 and 0x85, which are
// ordinary name bytes in the game's 8-bit text.
QString TrimControls(const QString& text);

// The settings boxes hold the port, scan time and maximum ping as text; a box
// without a number makes the operation that needs it fail with this error.
int ToInteger(const QString& text);

}  // namespace palisor
