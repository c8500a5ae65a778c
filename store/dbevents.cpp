#include "store/dbevents.h"

#include "store/fbattachment.h"
#include "store/outage.h"


#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <ibase.h>
#include <mutex>

namespace palisor {

// One name asked for. The engine writes its notice into `results` from its
// own event thread, at most once per queueing.
struct DbEvents::Request {
    QString name;
    quint64 serial = 0;       // tells a late notice from the request now at the same address
    QByteArray counts;        // the event parameter block: the count last heard
    QByteArray results;       // the engine's notice
    std::mutex mutex;
    DbEvents* owner = nullptr;   // null once given up
    bool pending = false;        // queued, the notice not yet written
    bool primed = false;         // the engine's first notice only gives the count as it stands
};

namespace {

std::atomic<quint64> lastSerial{0};

// Given-up requests whose notice may still be on its way: the engine's event
// thread can be about to write one when the request is given up. Each is
// kept a minute, far longer than that write takes, then freed.
struct Retired {
    std::chrono::steady_clock::time_point at;
    void* request;
    void (*free)(void*);
};
std::mutex retiredMutex;
std::vector<Retired>& retired()
{
    static auto* list = new std::vector<Retired>;   // for the process's whole life
    return *list;
}
constexpr auto RetiredFor = std::chrono::minutes(1);

// The engine's event parameter block for one name, its count at zero, as
// isc_event_block makes it (its first byte is the block's version, 1).
QByteArray parameterBlock(const QString& name)
{
    const QByteArray latin = name.toLatin1();
    QByteArray block;
    block += char(1);
    block += char(latin.size());
    block += latin;
    block += QByteArray(4, '\0');
    return block;
}

}  // namespace

DbEvents::DbEvents(QObject* parent) : QObject(parent) {}

DbEvents::~DbEvents() { stop(); }

void DbEvents::add(const QStringList& names)
{
    for (const QString& name : names) {
        if (names_.contains(name))
            continue;
        names_.append(name);
        if (started_)
            ask(name);
    }
}

void DbEvents::start(const QSqlDatabase& db)
{
    stop();
    db_ = EngineHandle(db);
    if (!db_) {
        emit refused(QStringLiteral("Cannot listen for database events: the connection gives no engine handle"));
        return;
    }
    started_ = true;
    for (const QString& name : names_)
        ask(name);
}

bool DbEvents::listening() const
{
    return started_ && std::all_of(requests_.begin(), requests_.end(), [](Request* request) { return request->primed; });
}

void DbEvents::ask(const QString& name)
{
    auto* request = new Request;
    request->name = name;
    request->serial = ++lastSerial;
    request->counts = parameterBlock(name);
    request->results = request->counts;
    requests_.push_back(request);
    QString why;
    if (!queue(request, &why))
        emit refused(QStringLiteral("Cannot listen for %1: %2").arg(name, why));
}

void DbEvents::stop()
{
    if (!started_)
        return;
    started_ = false;
    // Nothing is cancelled: every stop comes right before the connection
    // ends, and its end gives up what is still queued. Cancelling a request
    // while the engine's event thread delivers it brought programs down in
    // the engine's own code.
    const auto now = std::chrono::steady_clock::now();
    const std::lock_guard retiredLock(retiredMutex);
    std::vector<Retired>& list = retired();
    std::erase_if(list, [now](const Retired& old) {
        if (now - old.at < RetiredFor)
            return false;
        old.free(old.request);
        return true;
    });
    for (Request* request : requests_) {
        bool pending = false;
        {
            const std::lock_guard lock(request->mutex);
            request->owner = nullptr;
            pending = request->pending;
        }
        if (pending)
            list.push_back({now, request, [](void* old) { delete static_cast<Request*>(old); }});
        else
            delete request;
    }
    requests_.clear();
    db_ = 0;
}

bool DbEvents::queue(Request* request, QString* why)
{
    {
        const std::lock_guard lock(request->mutex);
        request->owner = this;
        request->pending = true;
    }
    // Runs on the engine's event thread (or within the engine's own call).
    const ISC_EVENT_CALLBACK written = [](void* arg, ISC_USHORT length, const ISC_UCHAR* notice) {
        auto* request = static_cast<Request*>(arg);
        const std::lock_guard lock(request->mutex);
        if (!request->pending)
            return;
        request->pending = false;
        if (notice && length <= request->results.size())
            std::memcpy(request->results.data(), notice, length);
        if (DbEvents* owner = request->owner)
            QMetaObject::invokeMethod(owner, [owner, serial = request->serial] {
                for (Request* current : owner->requests_)
                    if (current->serial == serial) {
                        owner->deliver(current);
                        return;
                    }
            }, Qt::QueuedConnection);
    };
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = db_;
    ISC_LONG id = 0;
    if (isc_que_events(status, &db, &id, short(request->counts.size()),
                       reinterpret_cast<const ISC_UCHAR*>(request->counts.constData()), written, request)) {
        const std::lock_guard lock(request->mutex);
        request->pending = false;
        *why = EngineStatusText(status);
        return false;
    }
    return true;
}

void DbEvents::deliver(Request* request)
{
    ISC_ULONG counts[15] = {};
    {
        const std::lock_guard lock(request->mutex);
        if (request->pending)
            return;
        isc_event_counts(counts, short(request->counts.size()), reinterpret_cast<ISC_UCHAR*>(request->counts.data()),
                         reinterpret_cast<const ISC_UCHAR*>(request->results.constData()));
    }
    const bool first = !request->primed;
    request->primed = true;
    const QString name = request->name;
    QString why;
    // A connection that went with its database server ends every request
    // at once: the loss is told where it is noticed, once.
    if (!queue(request, &why) && !IsConnectionLost(why))
        emit refused(QStringLiteral("Cannot listen for %1 any longer: %2").arg(name, why));
    // Told last: a listener may close the connection, which ends the request.
    if (!first && counts[0] > 0)
        emit heard(name);
}

}  // namespace palisor
