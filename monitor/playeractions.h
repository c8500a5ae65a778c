#pragma once

#include <QString>
#include <functional>

namespace palisor {

class TDataPalisor;

// Where the manual player actions send their work once the question is
// answered: the console side runs in the monitor engine, and the window
// shows its result (a message box, the response viewer) when it arrives.
struct PlayerActionHooks {
    std::function<void(const QString& clientId, const QString& name, const QString& address,
                       const QString& reason)> kick;
    std::function<void(const QString& clientId, const QString& name, const QString& address,
                       const QString& reason)> ban;
    std::function<void(const QString& name)> dumpuser;
};

// The window's side of the Action menu's three handlers (actKick, actBan,
// actDumpuser). Each reads the current PLAYERS row once when it starts and
// uses those values throughout, since a poll may rebuild PLAYERS while a
// dialog is open. The question goes through palisor::dialogs() and is
// answered before the request leaves; Cancel sends nothing. With no current
// PLAYERS row an action does nothing.
class PlayerActionHandlers {
public:
    PlayerActionHandlers(TDataPalisor& data, PlayerActionHooks hooks);

    // Asks for a reason ("ADMIN DECISION" by default), then asks for the kick.
    void actKickExecute();
    // Asks for a reason ("CHEATING" by default), then asks for the ban and
    // the kick.
    void actBanExecute();
    // Asks for the player's details; no question.
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
