#pragma once

#include "editors/playersearchwindow.h"

namespace palisor {

// The banned players (BANNED): the list window with finding a player by
// name and importing and exporting the list as text files of three kinds.
class TformBannedPlayers final : public PlayerSearchWindow {
    Q_OBJECT
public:
    TformBannedPlayers(TDataPalisor& data, QWidget* parent = nullptr);

    TableGrid* PlayerDataGrid;
    QMenu* miImport;
    QAction* miImportNames;
    QAction* miImportIPs;
    QAction* miImportNamesIPs;
    QMenu* miExport;
    QAction* miExportNames;
    QAction* miExportIPs;
    QAction* miExportNamesIPs;

    // Kinds as in banfiles.h. Imports from a file chosen in the open dialog;
    // a long file shows its progress and can be cancelled, keeping the bans
    // added until then.
    void ImportBanned(int kind);
    // Saves the list, in the table's current order, to a file chosen in the
    // save dialog.
    void ExportBanned(int kind);

    // Files longer than this show a progress dialog while they are imported.
    static constexpr int ProgressLines = 2000;
};

}  // namespace palisor
