#pragma once

#include <QString>

namespace palisor {

inline constexpr const char ApplicationTitle[] = "Palisor";
inline constexpr const char AlreadyRunningMessage[] =
    "Palisor is already running.\r\nDouble click the icon in the system tray.";
// Waited after the message loop has ended, before anything is destroyed.
inline constexpr int ExitPause = 1500;

// The folder that holds the running executable; empty if it cannot be told.
QString ExecutableFolder();

// Makes the executable's folder the working folder, so that data/PALISOR.GDB
// and its siblings are found beside the program wherever it was started
// from. A failure leaves the working folder as it was.
void EnterExecutableFolder();

// The single-instance guard of start-up: true when this copy may go on.
// Otherwise the user is told that Palisor already runs, and nothing else
// happens; the running copy is not disturbed.
bool StartSingleInstance();

}  // namespace palisor
