#pragma once

#include <QString>
#include <functional>

namespace palisor {

class TDataPalisor;

// What the manual player actions need from the main window.
struct PlayerActionHooks {
    // The shared kick routine: client number, name, reason and the address
    // for the penalty log in; result text out (the refusal text for an
    // immune player, else the server's reply to "clientkick").
    std::function<QString(const QString& clientId, const QString& name, const QString& reason,
                          const QString& address)>
        kickPlayer;
    // SendCommand: command in, console reply out; throws palisor::Error.
    std::function<QString(const QString& command)> sendCommand;
    // ShowResponse: the response viewer, captioned "Results for " + title.
    std::function<void(const QString& reply, const QString& title)> showResponse;
};

// The bodies of the Action menu's three handlers (actKick, actBan,
// actDumpuser). Each reads the current PLAYERS row once when it starts and
// uses those values throughout, since a poll may rebuild PLAYERS while a
// dialog is open. Questions and results go through palisor::dialogs().
// Errors (a refused password, a socket error, a database error) are passed
// on to the caller, ending the action where they happen; with no current
// PLAYERS row an action does nothing.
class PlayerActionHandlers {
public:
    PlayerActionHandlers(TDataPalisor& data, PlayerActionHooks hooks);

    // Asks for a reason ("ADMIN DECISION" by default), kicks, shows the result.
    void actKickExecute();
    // Asks for a reason ("CHEATING" by default), stores the ban, then kicks
    // (an immune player stays banned though not kicked), shows the result.
    void actBanExecute();
    // Sends "dumpuser" with the player's name and shows the reply in the
    // response viewer; no question.
    void actDumpuserExecute();

private:
    struct Player {
        QString clientId;
        QString name;
        QString address;
    };
    bool readCurrentPlayer(Player& player) const;

    TDataPalisor& data_;
    PlayerActionHooks hooks_;
};

}  // namespace palisor
