#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace palisor {

// Turns the lines of a "serverinfo" reply into "key=value" lines: the first
// ": " of a line becomes "=", and the blanks that pad the key are removed.
// Lines of any other shape stay as they are.
QStringList NormaliseServerInfo(const QStringList& lines);

// The value after the first "=" of the first line whose key equals the name,
// ignoring letter case; empty when no line has that key.
QString ServerInfoValue(const QStringList& normalised, const QString& name);

using MapAliasLookup = std::function<QString(const QString&)>;
using VariableReader = std::function<QString(const QString&)>;

// The display form of a map name: the game's folder prefixes and mode
// affixes stripped, then the administrator's alias, if any.
QString ShortMapName(const QString& rawName, const MapAliasLookup& alias);

// The map after the current one in a blank-separated rotation list, wrapping
// to the front past the end. The list is cut to the text that follows the
// current map, so a second call continues from there.
QString NextInMapList(QString& list, const QString& currentMap);

// The display name of the map the server will load next, from its rotation
// variables: nextmap naming a "vstr" variable, else sv_maplist.
QString NextMapName(const QString& currentMap, const VariableReader& readVariable,
                    const MapAliasLookup& alias);

}  // namespace palisor
