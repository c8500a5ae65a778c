#pragma once

#include "editors/playersearchwindow.h"

namespace palisor {

// The players seen on the server (RECENT), read-only: find a player, ban or
// remove an entry, and list the other names of an address or the other
// addresses of a name.
class TformRecentPlayers final : public PlayerSearchWindow {
    Q_OBJECT
public:
    TformRecentPlayers(TDataPalisor& data, QWidget* parent = nullptr);
    ~TformRecentPlayers() override;

    TableGrid* PlayerDataGrid;
    QAction* actBan;
    QAction* actMatchIP;
    QAction* actMatchName;

    // The third column (LASTSEEN) is always this wide.
    static constexpr int ThirdColumnWidth = 163;

    void TableAfterRefresh(LiveTable& table);
    void SizeThirdColumn();
    // Shows, in the response viewer, the listed column of every row whose
    // matched column equals the current row's.
    void ShowMatches(const QString& listColumn, const QString& matchColumn);

    void FormShow() override;
    void FormClose() override;
    void GridTitleClick(const QString& column) override;
    void actBanExecute();
    void actMatchIPExecute();
    void actMatchNameExecute();
};

}  // namespace palisor
