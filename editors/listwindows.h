#pragma once

class QWidget;

namespace palisor {

class AnnouncementHost;
class TDataPalisor;

// The openers of the list editors, for the main window's Edit menu. Each one
// creates a fresh window over the data module's shared table, shows it
// modally and returns when it has been closed. Errors raised inside the
// window go to the application's error handler; none leave these calls.
void ShowBannedPlayers(TDataPalisor& data, QWidget* parent);
void ShowRecentPlayers(TDataPalisor& data, QWidget* parent);
void ShowImmunePlayers(TDataPalisor& data, QWidget* parent);
void ShowIllegalNames(TDataPalisor& data, QWidget* parent);
void ShowMapAliases(TDataPalisor& data, QWidget* parent);
void ShowAnnouncements(TDataPalisor& data, AnnouncementHost& host, QWidget* parent);

}  // namespace palisor
