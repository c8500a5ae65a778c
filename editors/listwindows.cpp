#include "editors/listwindows.h"

#include "editors/formbannedplayers.h"
#include "editors/formmessages.h"
#include "editors/formrecentplayers.h"
#include "editors/simplelists.h"

namespace palisor {

void ShowBannedPlayers(TDataPalisor& data, QWidget* parent)
{
    TformBannedPlayers window(data, parent);
    window.ShowModal();
}

void ShowRecentPlayers(TDataPalisor& data, QWidget* parent)
{
    TformRecentPlayers window(data, parent);
    window.ShowModal();
}

void ShowImmunePlayers(TDataPalisor& data, QWidget* parent)
{
    TformImmunePlayers window(data, parent);
    window.ShowModal();
}

void ShowIllegalNames(TDataPalisor& data, QWidget* parent)
{
    TformIllegalNames window(data, parent);
    window.ShowModal();
}

void ShowMapAliases(TDataPalisor& data, QWidget* parent)
{
    TformMapAlias window(data, parent);
    window.ShowModal();
}

void ShowAnnouncements(TDataPalisor& data, AnnouncementHost& host, QWidget* parent)
{
    TformMessages window(data, host, parent);
    window.ShowModal();
}

}  // namespace palisor
