#pragma once

namespace palisor::ctl {

// palisorctl's whole run: parses the command line, works on the data folder
// and prints; returns the exit status (0 done, 1 failed, 2 bad usage).
// A QCoreApplication must exist.
int Run(int argc, char** argv);

}  // namespace palisor::ctl
