#pragma once

#include <QByteArray>

#include <cstdio>
#include <ostream>

// Shows a QByteArray in GoogleTest failures as a C string literal (line ends
// and bytes outside printable ASCII escaped), so byte-for-byte comparisons of
// console replies say where they differ.
inline void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"';
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\n')
            *os << "\\n";
        else if (c == '\r')
            *os << "\\r";
        else if (c == '"' || c == '\\')
            *os << '\\' << c;
        else if (b < 0x20 || b >= 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            *os << hex;
        } else
            *os << c;
    }
    *os << '"';
}
