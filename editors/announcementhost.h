#pragma once

#include <QString>
#include <QStringList>

namespace palisor {

// What the announcements editor needs from the main window: the variable
// refresh, the replacement, and the console. The main window implements it.
class AnnouncementHost {
public:
    virtual ~AnnouncementHost() = default;
    virtual void UpdateVariables() = 0;
    virtual QString SubstituteVariables(const QString& text) = 0;
    // Sends a console command; the reply is shown in a message box when it
    // arrives, an error in the status bar.
    virtual void SendNow(const QString& command) = 0;
};

}  // namespace palisor
