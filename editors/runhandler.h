#pragma once

#include "app/errorhandler.h"

#include <exception>

namespace palisor {

// Runs a window's handler and hands an error to the application's error
// handler, so that it ends the handler, not the event dispatch that called it.
template <class Handler>
void RunHandler(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        HandleApplicationError(e);
    }
}

}  // namespace palisor
