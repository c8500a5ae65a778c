#pragma once

#include <QString>

namespace palisor {

// Every Palisor program on a data folder (the window, palisor-monitor,
// palisorctl, and the engine tools they start) opens its PALISOR.GDB at the
// same time. The embedded engine shares a file between processes only when
// each runs it in the SuperClassic server mode with the same lock folder, so
// every program runs the engine from a configuration root of Palisor's own
// (FIREBIRD) and with the data folder's lock folder (FIREBIRD_LOCK).
//
// Two processes with different lock folders would each believe they had the
// file alone and ruin it, so an inherited FIREBIRD_LOCK is never used.

// Readies this process for the data folder: makes the configuration root and
// the folder's lock folder and points FIREBIRD and FIREBIRD_LOCK at them. The
// engine reads both once, at the process's first database call, so this runs
// before it; the tools the process starts inherit both. Throws Error when the
// engine's files are missing or the lock folder holds files this user may not
// write. A folder whose database.conf names a server gets both as well: the
// root's settings are the client library's too (see UseEngineRoot).
void ShareDataFolderEngine(const QString& dataFolder);

// Points FIREBIRD at this user's configuration root (PrepareEngineRoot), for
// the embedded engine and for the client library, which reads the same
// settings for its connections to database servers: those must be encrypted.
// Runs before the process's first database call. Throws Error.
void UseEngineRoot();

// <dataFolder>/firebird-locks: 0700, or 02770 in a folder shared with its
// group, so that the group's programs share the engine's lock tables too.
QString EngineLockFolder(const QString& dataFolder);

// This user's configuration root, made when missing (see MakeEngineRoot), in
// $XDG_CACHE_HOME/palisor, or in the temporary folder when that belongs to
// somebody else. Throws Error.
QString PrepareEngineRoot();

// The system's engine root: the folder beside the client library holding
// firebird.msg, the plugins and the character sets. Throws Error.
QString SystemEngineRoot();

// A configuration root asking for the SuperClassic mode, made in parent from
// systemRoot: its files linked, except the character-set module, which the
// engine refuses to load through a link and which is therefore copied. The
// root is named after what it was made from, so an upgraded system engine
// gets a fresh root while a program still running keeps its own.
QString MakeEngineRoot(const QString& systemRoot, const QString& parent);

}  // namespace palisor
