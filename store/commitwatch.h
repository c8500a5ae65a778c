#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace palisor {

class TDataPalisor;

// Posted by the database's triggers in the commit that changes a list
// (BANNED, IMMUNE, ILLEGAL, MAPALIAS, MESSAGES) or the settings row, so a
// running program reads them again without being told by hand.
inline constexpr char ListsEvent[] = "PALISOR_LISTS";
inline constexpr char SettingsEvent[] = "PALISOR_SETTINGS";

// Hears the named events on a data module's attachment, whoever committed
// them (this attachment included), and tells `heard` on the module's thread,
// which needs an event loop. A subscription ends with its connection, so it
// is made again each time the module attaches (after a maintenance cycle).
class CommitWatch : public QObject {
    Q_OBJECT
public:
    CommitWatch(TDataPalisor& data, const QStringList& events, std::function<void(const QString& event)> heard,
                QObject* parent = nullptr);

private:
    void subscribe();

    TDataPalisor& data_;
    QStringList events_;
};

}  // namespace palisor
