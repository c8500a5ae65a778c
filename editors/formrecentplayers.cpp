#include "editors/formrecentplayers.h"

#include "core/dialogs.h"
#include "editors/formactionresponse.h"
#include "editors/tablegrid.h"
#include "store/datapalisor.h"
#include "store/livetable.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace palisor {

TformRecentPlayers::TformRecentPlayers(TDataPalisor& data, QWidget* parent)
    : PlayerSearchWindow(data, *data.tblRecent,
                         {QStringLiteral("Recent Players: %d total"), QSize(592, 308), QStringLiteral("PlayerDataGrid"), false,
                          true, QStringLiteral("&Remove Player"), QStringLiteral("NAME")},
                         parent),
      PlayerDataGrid(grid())
{
    actBan = new QAction(QStringLiteral("&Ban Player"), this);
    miAction->insertAction(actRemove, actBan);
    actMatchIP = miAction->addAction(QStringLiteral("Find Matches by &IP"));
    actMatchName = miAction->addAction(QStringLiteral("Find Matches by &Name"));

    onTriggered(actBan, [this] { actBanExecute(); });
    onTriggered(actMatchIP, [this] { actMatchIPExecute(); });
    onTriggered(actMatchName, [this] { actMatchNameExecute(); });

    table().setAfterRefresh([this](LiveTable& refreshed) { TableAfterRefresh(refreshed); });
}

// The hook acts on this window's grid, so it goes with the window.
TformRecentPlayers::~TformRecentPlayers() { table().setAfterRefresh({}); }

void TformRecentPlayers::TableAfterRefresh(LiveTable&) { SizeThirdColumn(); }

void TformRecentPlayers::SizeThirdColumn() { PlayerDataGrid->setColumnWidth(2, ThirdColumnWidth); }

void TformRecentPlayers::FormShow()
{
    SizeThirdColumn();
    table().last();
}

// Nothing is edited here, so closing stores nothing.
void TformRecentPlayers::FormClose() {}

void TformRecentPlayers::GridTitleClick(const QString& column)
{
    ListWindow::GridTitleClick(column);
    SizeThirdColumn();
}

void TformRecentPlayers::actBanExecute()
{
    const QString name = table().text(QStringLiteral("NAME"));
    if (!dialogs().confirm(QStringLiteral("Are you sure you want to ban ") + name + QLatin1Char('?')))
        return;
    // The penalty log tells this ban from one made on the server by hand.
    data().BanPlayer(name, table().text(QStringLiteral("ADDRESS")),
                     Penalty{EventSource::Admin, QStringLiteral("Recent Players list"), QString()});
}

void TformRecentPlayers::ShowMatches(const QString& listColumn, const QString& matchColumn)
{
    const QString matches = data().SelectMatches(listColumn, matchColumn, &table());
    ShowResponse(matches, matchColumn + QStringLiteral(" matches"), this);
}

void TformRecentPlayers::actMatchIPExecute() { ShowMatches(QStringLiteral("NAME"), QStringLiteral("ADDRESS")); }

void TformRecentPlayers::actMatchNameExecute() { ShowMatches(QStringLiteral("ADDRESS"), QStringLiteral("NAME")); }

}  // namespace palisor
