// The database events an attachment hears.
#include "store/datapalisor.h"

#include "store/sqltext.h"

#include <QSqlDriver>

namespace palisor {

void TDataPalisor::Listen(const QStringList& events)
{
    for (const QString& event : events)
        if (!listened_.contains(event))
            listened_.append(event);
    // The driver stays the connection's own across reconnections. It goes
    // on using the event's buffer after telling, so a listener that lets
    // the attachment go must not do so inside the telling: told a moment
    // later.
    if (!hearing_) {
        QObject::connect(database().driver(), &QSqlDriver::notification, this, [this](const QString& event) {
            QMetaObject::invokeMethod(this, [this, event] { emit notified(event); }, Qt::QueuedConnection);
        });
        hearing_ = true;
    }
    listenAgain();
}

void TDataPalisor::listenAgain()
{
    const QSqlDatabase db = database();
    if (!db.isOpen())
        return;
    QSqlDriver* driver = db.driver();
    const QStringList heard = driver->subscribedToNotifications();
    for (const QString& event : listened_) {
        // The attachment works on without it, seeing the others' commits
        // only when it reads for reasons of its own; the log says why.
        if (!heard.contains(event) && !driver->subscribeToNotification(event))
            WriteLog(QStringLiteral("Cannot listen for %1: %2").arg(event, sql::errorText(driver->lastError())));
    }
}

}  // namespace palisor
