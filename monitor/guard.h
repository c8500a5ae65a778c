#pragma once

#include "app/errorhandler.h"

#include <exception>

namespace palisor {

// Runs an event handler of the main window; an error it raises goes to the
// application's error handler (the status bar) instead of travelling through
// Qt's event dispatch.
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
