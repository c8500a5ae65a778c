#pragma once

#include <functional>

namespace palisor {

// From now on SIGTERM and SIGINT (a system shut-down, `kill`, Ctrl+C in the
// terminal) end the message loop, so that Palisor shuts down in its usual
// order instead of dying mid-way. A second such signal ends the process at
// once. Replaces any handler installed before, such as the database
// engine's, which would otherwise close the database under the running
// program and leave it running; a handler installed later by the engine
// still passes the signal on. Needs the application object; may be called
// again.
void QuitOnTerminationSignals();

// From now on SIGHUP (the terminal that started the program was closed) ends
// the message loop as SIGTERM does. Needs the application object; may be
// called again.
void QuitOnHangUp();

// The signal that ended the message loop through QuitOnTerminationSignals,
// 0 while none has.
int TerminationSignal();

// From now on SIGHUP calls reload on the application's thread, from its
// message loop (the headless monitor re-reads its settings then).
void ReloadOnHangUp(std::function<void()> reload);

}  // namespace palisor
