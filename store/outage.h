#pragma once

#include "store/datapalisor.h"
#include "store/history.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <atomic>
#include <deque>
#include <optional>
#include <variant>

namespace palisor {

// Whether a database error says the connection to a database server is
// gone: the server stopped, restarted or cannot be reached. The SQL driver
// goes on calling such a connection open, so only its errors tell.
bool IsConnectionLost(const QString& message);

// Whether something takes connections at a server location's host and port
// ("host[/port]:path") within the time given. Asked before every attempt to
// reconnect, so that a host that drops the packets costs that time and not
// the engine's own minutes-long wait.
bool ServerAnswers(const QString& location, int milliseconds);

// The same check on a thread of its own, told through answered() on the
// thread that started it: the check waits on the network for up to
// TDataPalisor::ReconnectProbeMs (a name look-up perhaps longer), which a
// window's thread must never do. One check at a time; the destructor waits
// for one under way.
class ServerProbe : public QObject {
    Q_OBJECT
public:
    ServerProbe(const QString& location, QObject* parent);
    ~ServerProbe() override;
    void start();   // nothing while a check is under way

signals:
    void answered(bool takesConnections);

private:
    const QString location_;
    QThread* thread_ = nullptr;
    std::atomic_bool takes_{false};
};

// A row of the penalty log recorded while the database was gone, or whose
// write was cut short. Its number is drawn at its first write and kept with
// it: a write whose commit was never confirmed is written again only where
// no row has that number.
struct KeptEvent {
    qint64 id = 0;
    QDateTime occurred;
    QString kind;
    Penalty why;
    QString name;
    QString address;
};

// A ban stored while the database was gone.
struct KeptBan {
    QString name;
    QString address;
    Penalty why;
};

// What a monitor recorded while its database was gone, in the order it
// happened, to be written once it is back: penalties, bans and samples, at
// most Capacity of them (the oldest give way, and are counted), and only the
// latest poll's players, which replace the older.
class KeptRecords {
public:
    static constexpr int Capacity = 5000;
    using Record = std::variant<KeptEvent, KeptBan, ServerSample>;

    void keep(Record record);
    void keepPlayers(const QList<PlayerRecord>& players) { players_ = players; }
    bool empty() const { return records_.empty() && !players_; }
    // Whether a ban kept here catches the player, by address or by name as
    // the list's own look-ups compare them.
    bool banned(const QString& name, const QString& address) const;

    std::deque<Record>& records() { return records_; }
    std::optional<QList<PlayerRecord>>& players() { return players_; }
    // How many gave way since the last time asked.
    int takeDropped() { return std::exchange(dropped_, 0); }

private:
    std::deque<Record> records_;
    std::optional<QList<PlayerRecord>> players_;
    int dropped_ = 0;
};

}  // namespace palisor
