#include "monitor/playeractions.h"

#include "core/dialogs.h"
#include "store/datapalisor.h"

namespace palisor {

PlayerActionHandlers::PlayerActionHandlers(TDataPalisor& data, PlayerActionHooks hooks)
    : data_(data), hooks_(std::move(hooks))
{
}

bool PlayerActionHandlers::readCurrentPlayer(Player& player) const
{
    const LiveTable& players = *data_.tblPlayers;
    if (players.currentRow() < 0)
        return false;
    player.clientId = players.text(QStringLiteral("CLIENTID"));
    player.name = players.text(QStringLiteral("NAME"));
    player.address = players.text(QStringLiteral("ADDRESS"));
    return true;
}

void PlayerActionHandlers::actKickExecute()
{
    Player player;
    if (!readCurrentPlayer(player))
        return;
    QString reason = QStringLiteral("ADMIN DECISION");
    if (!dialogs().inputQuery(QStringLiteral("Player Kick"),
                              QStringLiteral("Are you sure you want to kick ") + player.name +
                                  QStringLiteral("?\r\n\r\nReason for kick:"),
                              reason))
        return;
    hooks_.kick(player.clientId, player.name, player.address, reason);
}

void PlayerActionHandlers::actBanExecute()
{
    Player player;
    if (!readCurrentPlayer(player))
        return;
    QString reason = QStringLiteral("CHEATING");
    if (!dialogs().inputQuery(QStringLiteral("Player Ban"),
                              QStringLiteral("Are you sure you want to ban ") + player.name +
                                  QStringLiteral("?\r\n\r\nReason for ban:"),
                              reason))
        return;
    hooks_.ban(player.clientId, player.name, player.address, reason);
}

void PlayerActionHandlers::actDumpuserExecute()
{
    Player player;
    if (!readCurrentPlayer(player))
        return;
    hooks_.dumpuser(player.name);
}

}  // namespace palisor
