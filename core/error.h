#pragma once

#include <QString>
#include <stdexcept>

namespace palisor {

// Every failure in Palisor is an exception carrying a message text; the main
// window shows it in the status bar and callers classify it by its words.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    QString message() const { return QString::fromStdString(what()); }
};

// The message of any exception as text.
inline QString messageOf(const std::exception& e) { return QString::fromStdString(e.what()); }

}  // namespace palisor
