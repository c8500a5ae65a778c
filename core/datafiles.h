#pragma once

#include <QString>
#include <sys/types.h>

namespace palisor {

// The files Palisor makes in a data folder hold the console password (the
// database and its compaction copies) and the players' addresses, so nobody
// but their owner may read them; in a folder shared with its group (the
// service's state folder, shared with the administrators in its group) the
// group may too.

// The database engine's lock folder inside every data folder: all the
// programs on the folder share the engine's lock tables there.
inline constexpr char EngineLockFolderName[] = "firebird-locks";

// A folder is shared with its group when it is group-writable or
// set-group-ID.
bool IsGroupShared(const QString& folder);
// 0600, or 0660 in a group-shared folder.
mode_t DataFileMode(const QString& folder);

// From now on every file this process and the tools it starts create is
// private to the same degree (the file-creation mask never lets others in),
// and the files Palisor makes in the folder, with those of the database
// engine's lock folder within, get the folder's mode now.
void ProtectDataFolder(const QString& folder);

// Gives one file the mode of the folder it lies in. The database engine
// makes its files with modes of its own, whatever the mask.
void ProtectDataFile(const QString& path);

}  // namespace palisor
