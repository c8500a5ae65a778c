#include "store/commitwatch.h"

#include "store/datapalisor.h"

#include <QSqlDriver>

namespace palisor {

CommitWatch::CommitWatch(TDataPalisor& data, const QStringList& events, std::function<void(const QString&)> heard,
                         QObject* parent)
    : QObject(parent), data_(data), events_(events)
{
    connect(&data_, &TDataPalisor::attached, this, &CommitWatch::subscribe);
    // Told a moment later: the driver still uses the event's buffer while it
    // reports it, and what is told may well close the connection.
    connect(data_.database().driver(), &QSqlDriver::notification, this,
            [this, heard = std::move(heard)](const QString& name) {
                if (events_.contains(name))
                    QMetaObject::invokeMethod(this, [heard, name] { heard(name); }, Qt::QueuedConnection);
            });
    subscribe();
}

void CommitWatch::subscribe()
{
    QSqlDatabase db = data_.database();
    if (!db.isOpen())
        return;
    QSqlDriver* driver = db.driver();
    const QStringList subscribed = driver->subscribedToNotifications();
    for (const QString& name : events_)
        if (!subscribed.contains(name))
            driver->subscribeToNotification(name);
}

}  // namespace palisor
