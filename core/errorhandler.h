#pragma once

#include <QString>

#include <exception>
#include <functional>

namespace palisor {

// Where errors that reach the message loop end up. Until the main window
// installs its own handler, the standard one shows the message in an error
// box titled "Palisor".
using ErrorHandler = std::function<void(const QString& message)>;

void setApplicationErrorHandler(ErrorHandler handler);  // empty restores the standard box
void HandleApplicationError(const QString& message);
void HandleApplicationError(const std::exception& error);

// Runs a window's event handler; an error it raises goes to the application's
// error handler (the main window's status bar) and ends the handler, not the
// Qt event dispatch that called it.
template <typename Handler>
void Guarded(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        HandleApplicationError(e);
    }
}

}  // namespace palisor
