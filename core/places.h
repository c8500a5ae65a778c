#pragma once

#include <QString>

namespace palisor {

// Where one copy of Palisor keeps its files.
//
// A portable copy (the build folder, a copied folder) has a folder named
// "data" beside its executable: the database and its log live there, and
// Palisor.INI and manual.url beside the executable. An installed copy keeps
// the user's data in $XDG_DATA_HOME/palisor, Palisor.INI in
// $XDG_CONFIG_HOME/palisor, and reads the schema and the manual from
// share/palisor beside its bin folder.
struct Places {
    bool installed = false;
    QString dataFolder;     // PALISOR.GDB, PALISOR.BKP, PALISOR.GBK, PALISOR.LOG
    QString iniFile;        // Palisor.INI
    QString sharedFolder;   // schema.sql, manual.url, manual.html

    QString schemaFile() const;
    QString manualShortcut() const;
};

Places FindPlaces(const QString& executableFolder);

// $XDG_RUNTIME_DIR when it is a folder of the effective user; empty otherwise.
// A root shell that kept another user's variable (su without -, sudo -E)
// must not leave root's lock files in that user's folder, where they would
// later refuse the user's own Palisor.
QString OwnRuntimeFolder();

// The places of this run. Start-up settles them before any file is touched;
// until then they are the portable places of the executable's folder.
const Places& ProgramPlaces();
void SetProgramPlaces(const Places& places);

}  // namespace palisor
