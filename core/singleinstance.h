#pragma once

#include <QString>

namespace palisor {

// Takes the program-wide lock called name without waiting. True when this
// process may run: the lock was free, was left behind by a process that has
// ended, or could not be set up at all. False only while another live
// process holds it. The lock is never released; it ends with the process.
bool CheckSingleInstance(const QString& name);

// The file that carries the lock for a name, in the user's runtime folder
// ($XDG_RUNTIME_DIR), else in the temporary folder under the user's id.
QString SingleInstanceLockPath(const QString& name);

}  // namespace palisor
