// The data module while its database server is gone: noticing it, keeping
// the monitor's recording in memory, reconnecting and writing out.

#include "store/outage.h"

#include "core/error.h"
#include "store/databaseconf.h"
#include "store/dbevents.h"
#include "store/ruleindexes.h"
#include "store/sqltext.h"

#include <QSqlQuery>
#include <QThread>

#include <cerrno>
#include <utility>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace palisor {

bool IsConnectionLost(const QString& message)
{
    // The engine's words for a connection the server no longer serves: it
    // was killed or stopped (reading or writing fails), it is restarting
    // (shutdown), or it cannot be reached at all.
    static const char* const said[] = {
        "Error writing data to the connection", "Error reading data from the connection",
        "Unable to complete network request", "connection lost", "Connection shutdown",
        "Failed to establish a connection", "connection rejected by remote interface",
    };
    for (const char* words : said)
        if (message.contains(QLatin1String(words), Qt::CaseInsensitive))
            return true;
    return false;
}

bool ServerAnswers(const QString& location, int milliseconds)
{
    const QString host = LocationHost(location);
    const qsizetype slash = host.indexOf(QLatin1Char('/'));
    const QByteArray name = (slash >= 0 ? host.left(slash) : host).toUtf8();
    const QByteArray service = slash >= 0 ? host.mid(slash + 1).toUtf8() : QByteArrayLiteral("3050");
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(name.constData(), service.constData(), &hints, &found) != 0)
        return false;
    bool answered = false;
    for (addrinfo* each = found; each && !answered; each = each->ai_next) {
        const int s = ::socket(each->ai_family, each->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, each->ai_protocol);
        if (s < 0)
            continue;
        if (::connect(s, each->ai_addr, each->ai_addrlen) == 0) {
            answered = true;
        } else if (errno == EINPROGRESS) {
            pollfd wait{s, POLLOUT, 0};
            int error = 0;
            socklen_t size = sizeof error;
            answered = ::poll(&wait, 1, milliseconds) == 1 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &size) == 0
                       && error == 0;
        }
        ::close(s);
    }
    ::freeaddrinfo(found);
    return answered;
}

ServerProbe::ServerProbe(const QString& location, QObject* parent) : QObject(parent), location_(location) {}

ServerProbe::~ServerProbe()
{
    if (thread_)
        thread_->wait();
}

void ServerProbe::start()
{
    if (thread_)
        return;
    thread_ = QThread::create([this] { takes_ = ServerAnswers(location_, TDataPalisor::ReconnectProbeMs); });
    thread_->setParent(this);
    connect(thread_, &QThread::finished, this, [this] {
        QThread* done = std::exchange(thread_, nullptr);
        done->wait();
        done->deleteLater();
        emit answered(takes_);
    });
    thread_->start();
}

void KeptRecords::keep(Record record)
{
    if (records_.size() >= Capacity) {
        records_.pop_front();
        ++dropped_;
    }
    records_.push_back(std::move(record));
}

bool KeptRecords::banned(const QString& name, const QString& address) const
{
    const QString nameKey = RuleIndexes::nameKey(name);
    const QString addressKey = sql::withoutTrailingBlanks(address);
    for (const Record& record : records_) {
        const auto* ban = std::get_if<KeptBan>(&record);
        if (!ban)
            continue;
        if ((!addressKey.isEmpty() && sql::withoutTrailingBlanks(ban->address) == addressKey)
            || (!nameKey.isEmpty() && RuleIndexes::nameKey(ban->name) == nameKey))
            return true;
    }
    return false;
}

// ---- the data module ----------------------------------------------------

bool TDataPalisor::NoteLoss(const QString& message)
{
    // An embedded file does not go away like this; its errors are its own.
    if (!onServer() || !IsConnectionLost(message))
        return false;
    if (std::exchange(lost_, true))
        return true;
    lostError_ = message;
    rules_->setFrozen(true);
    WriteLog(QStringLiteral("The database server is gone (%1); the recording is kept in memory until it is back")
                 .arg(message));
    emit databaseLost(message);
    return true;
}

void TDataPalisor::writeOrKeep(const std::function<void()>& write, const std::function<void()>& keep)
{
    // The write-out after a reconnect writes what was kept, or fails whole.
    if (writingOut_) {
        write();
        return;
    }
    if (!lost_) {
        try {
            write();
            return;
        } catch (const std::exception& e) {
            if (!NoteLoss(messageOf(e)))
                throw;
        }
    }
    keep();
}

bool TDataPalisor::recordsHistory() const { return history_ && (lost_ || isConnected()); }

void TDataPalisor::PrepareRules()
{
    // Only a server's database goes away under a running program.
    if (lost_ || !onServer())
        return;
    for (LiveTable* list : {tblImmune, tblBanned, tblIllegal})
        requireOpen(list);
    rules_->prepare();
}

QList<int> TDataPalisor::PlayerPings()
{
    QList<int> pings;
    if (lost_ && kept_->players()) {
        for (const PlayerRecord& player : *kept_->players())
            if (!player.name.trimmed().isEmpty())
                pings << player.ping.toInt();
        return pings;
    }
    for (int row = 0; row < tblPlayers->rowCount(); ++row)
        pings << tblPlayers->value(row, QStringLiteral("PING")).toString().toInt();
    return pings;
}

void TDataPalisor::dropLostConnection()
{
    const QList<LiveTable*> order = tables();
    for (auto it = order.rbegin(); it != order.rend(); ++it)
        (*it)->close();
    events_->stop();
    QSqlDatabase db = database();
    if (db.isOpen()) {
        db.rollback();
        db.close();
    }
}

void TDataPalisor::Abandon()
{
    const int kept = int(kept_->records().size()) + (kept_->players() ? 1 : 0);
    if (kept > 0)
        WriteLog(QStringLiteral("The database server is still gone: %1 records kept meanwhile are lost").arg(kept));
    dropLostConnection();
}

void TDataPalisor::Reattach()
{
    dropLostConnection();
    connect(false);
}

bool TDataPalisor::Reconnect()
{
    if (!lost_)
        return true;
    return ServerAnswers(place().location, ReconnectProbeMs) && ReconnectNow();
}

bool TDataPalisor::ReconnectNow()
{
    if (!lost_)
        return true;
    int written = 0;
    writingOut_ = true;
    try {
        dropLostConnection();
        // Asks for the events again: a subscription ended with the old
        // connection, without a word.
        connect(false);
        writeKept(written);
    } catch (const std::exception&) {
        writingOut_ = false;
        // Still gone, or gone again: it was said once already.
        return false;
    }
    writingOut_ = false;
    lost_ = false;
    rules_->setFrozen(false);
    const int dropped = kept_->takeDropped();
    QString line = QStringLiteral("The database server is back; %1 records kept meanwhile were written").arg(written);
    if (dropped > 0)
        line += QStringLiteral(", %1 older ones were dropped to stay within %2").arg(dropped).arg(KeptRecords::Capacity);
    WriteLog(line);
    emit databaseBack(written, dropped);
    return true;
}

void TDataPalisor::writeKept(int& written)
{
    std::deque<KeptRecords::Record>& records = kept_->records();
    // One record at a time, each forgotten once committed: should the server
    // go again meanwhile, the rest waits for the next attempt, and the one
    // cut short is written again only if it did not arrive.
    while (!records.empty()) {
        try {
            std::visit([this](auto& record) {
                using Kept = std::decay_t<decltype(record)>;
                if constexpr (std::is_same_v<Kept, KeptEvent>)
                    writeEvent(record, true);
                else if constexpr (std::is_same_v<Kept, KeptBan>)
                    BanPlayer(record.name, record.address, record.why);
                else
                    writeSample(record);
            }, records.front());
            ++written;
        } catch (const std::exception& e) {
            if (IsConnectionLost(messageOf(e)))
                throw;
            WriteLog(QStringLiteral("A record kept while the database server was gone could not be written: ")
                     + messageOf(e));
        }
        records.pop_front();
    }
    if (kept_->players()) {
        // Only the latest poll's players matter; the next poll replaces them anyway.
        RecordPlayers(*kept_->players(), true);
        kept_->players().reset();
    }
}

}  // namespace palisor
