#include "editors/formbannedplayers.h"

#include "core/dialogs.h"
#include "core/shellutils.h"
#include "core/timing.h"
#include "store/banfiles.h"
#include "store/banimport.h"
#include "editors/tablegrid.h"
#include "store/datapalisor.h"
#include "store/livetable.h"

#include <QAction>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QProgressDialog>

#include <memory>

namespace palisor {

TformBannedPlayers::TformBannedPlayers(TDataPalisor& data, QWidget* parent)
    : PlayerSearchWindow(data, *data.tblBanned,
                         {QStringLiteral("Banned Players: %d total"), QSize(428, 308), QStringLiteral("PlayerDataGrid"), true,
                          true, QStringLiteral("&Remove Player"), QStringLiteral("NAME")},
                         parent),
      PlayerDataGrid(grid())
{
    miImport = new QMenu(QStringLiteral("&Import"), miFile);
    miImportNames = miImport->addAction(QStringLiteral("&Names..."));
    miImportIPs = miImport->addAction(QStringLiteral("&IP Addresses..."));
    miImportNamesIPs = miImport->addAction(QStringLiteral("Names && IP &Addresses..."));
    miExport = new QMenu(QStringLiteral("&Export"), miFile);
    miExportNames = miExport->addAction(QStringLiteral("&Names..."));
    miExportIPs = miExport->addAction(QStringLiteral("&IP Addresses..."));
    miExportNamesIPs = miExport->addAction(QStringLiteral("Names && IP &Addresses..."));
    miFile->insertMenu(miExit, miImport);
    miFile->insertMenu(miExit, miExport);
    miFile->insertSeparator(miExit);

    onTriggered(miImportNames, [this] { ImportBanned(NamesKind); });
    onTriggered(miImportIPs, [this] { ImportBanned(AddressesKind); });
    onTriggered(miImportNamesIPs, [this] { ImportBanned(NamesAndAddressesKind); });
    onTriggered(miExportNames, [this] { ExportBanned(NamesKind); });
    onTriggered(miExportIPs, [this] { ExportBanned(AddressesKind); });
    onTriggered(miExportNamesIPs, [this] { ExportBanned(NamesAndAddressesKind); });
}

void TformBannedPlayers::ImportBanned(int kind)
{
    const QString fileName = ChooseOpenFile(QStringLiteral(".txt"));
    if (fileName.trimmed().isEmpty())
        return;
    grid()->leaveRow();
    const QString placeholder = ImportPlaceholder(now().date());
    const int row = table().currentRow();
    const QStringList lines = ReadImportFile(fileName);

    std::unique_ptr<QProgressDialog> progress;
    if (lines.size() > ProgressLines) {
        progress = std::make_unique<QProgressDialog>(QStringLiteral("Importing banned players..."),
                                                     QStringLiteral("Cancel"), 0, int(lines.size()), this);
        progress->setWindowTitle(windowTitle());
        progress->setWindowModality(Qt::WindowModal);
        progress->setMinimumDuration(0);
        progress->setAutoClose(false);
        progress->setValue(0);
    }
    ImportBanLines(data(), lines, kind, placeholder, QFileInfo(fileName).fileName(), [&progress](int done) {
        if (!progress)
            return true;
        progress->setValue(done);
        return !progress->wasCanceled();
    });
    progress.reset();

    table().setCurrentRow(row);
    UpdateTotal();
}

void TformBannedPlayers::ExportBanned(int kind)
{
    if (data().CountRows(&table()) < 1) {
        dialogs().information(QStringLiteral("There are no banned players to Export."));
        return;
    }
    grid()->leaveRow();
    // Read row by row in the table's order, without moving its current row.
    QString text;
    for (int row = 0; row < table().rowCount(); ++row) {
        const QVariant name = table().value(row, QStringLiteral("NAME"));
        const QVariant address = table().value(row, QStringLiteral("ADDRESS"));
        text += ExportLine(kind, name.isNull() ? QString() : name.toString(),
                           address.isNull() ? QString() : address.toString());
        text += QStringLiteral("\r\n");
    }
    SaveTextAs(ExportFileName(kind), text);
}

}  // namespace palisor
