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
    dialogs().message(hooks_.kickPlayer(player.clientId, player.name, reason, player.address));
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
    // Stored first, so the ban holds whatever becomes of the kick.
    data_.BanPlayer(player.name, player.address, Penalty{EventSource::Admin, reason, player.clientId});
    dialogs().message(hooks_.kickPlayer(player.clientId, player.name, reason, player.address));
}

void PlayerActionHandlers::actDumpuserExecute()
{
    Player player;
    if (!readCurrentPlayer(player))
        return;
    // An opening quote alone makes the console take the rest of the line,
    // blanks included, as the name; the viewer's caption shows it closed.
    const QString command = QStringLiteral("dumpuser \"") + player.name;
    const QString reply = hooks_.sendCommand(command);
    hooks_.showResponse(reply, command + QLatin1Char('"'));
}

}  // namespace palisor
