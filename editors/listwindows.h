#pragma once

class QWidget;

namespace palisor {

class AnnouncementHost;
class TDataPalisor;

// The openers of the list editors, for the main window's Edit menu. Each one
// creates a fresh window over the data module's shared table, shows it
// modally and returns when it has been closed. Errors raised while the
// window is open go to the application's error handler; an error before it
// opens (the table's count cannot be read) leaves the call.
void ShowBannedPlayers(TDataPalisor& data, QWidget* parent);
void ShowRecentPlayers(TDataPalisor& data, QWidget* parent);
void ShowImmunePlayers(TDataPalisor& data, QWidget* parent);
void ShowIllegalNames(TDataPalisor& data, QWidget* parent);
void ShowMapAliases(TDataPalisor& data, QWidget* parent);
void ShowAnnouncements(TDataPalisor& data, AnnouncementHost& host, QWidget* parent);

}  // namespace palisor
