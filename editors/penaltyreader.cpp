#include "editors/penaltyreader.h"

#include "core/error.h"
#include "editors/penaltymodel.h"
#include "store/fbattachment.h"
#include "store/letgo.h"
#include "store/sqltext.h"

#include <QFileInfo>
#include <QSaveFile>

#include <atomic>

namespace palisor {

struct PenaltyLogReader::Shared {
    QString source;        // the window's connection, cloned on the reader's thread
    QString connection;    // the reader's own
    std::atomic<int> latestSearch{0};
    std::atomic<bool> cancelExport{false};
    std::atomic<bool> closing{false};
    // The engine's handle of the reader's attachment while it is open, so a
    // closing window can cut a long search short instead of waiting for it.
    std::atomic<unsigned> attached{0};
};

namespace {

std::atomic<int> readerCount{0};

// The file is written in pieces of about this size: the memory an export
// needs does not grow with the log.
constexpr qsizetype ChunkBytes = 256 * 1024;

// Attached for one look only: an idle History window never keeps the file
// from a maintenance cycle.
QSqlDatabase attachment(const QString& source, const QString& connection, std::atomic<unsigned>& attached)
{
    QSqlDatabase db = QSqlDatabase::contains(connection) ? QSqlDatabase::database(connection, false)
                                                         : QSqlDatabase::cloneDatabase(source, connection);
    if (CycleMark::Running(QFileInfo(db.databaseName()).absolutePath()))
        throw Error(QStringLiteral("The database is being compacted; it is back in a moment."));
    if (!db.open())
        throw Error(QStringLiteral("Cannot read the penalty log: ") + sql::errorText(db.lastError()));
    attached = EngineHandle(db);
    return db;
}

void detach(std::atomic<unsigned>& attached, QSqlDatabase& db)
{
    attached = 0;
    if (db.isOpen())
        db.close();
}

void writeChunk(QSaveFile& file, QByteArray& chunk)
{
    if (file.write(chunk) != chunk.size())
        throw Error(QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
    chunk.clear();
}

}  // namespace

PenaltyLogReader::PenaltyLogReader(const QSqlDatabase& db, QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()), worker_(new QObject)
{
    shared_->source = db.connectionName();
    shared_->connection = QStringLiteral("palisor-penalty-reader-%1").arg(++readerCount);
    thread_.setObjectName(QStringLiteral("PenaltyLogReader"));
    worker_->moveToThread(&thread_);
    // Run by the reader's thread as it ends, after the last look: a job
    // posted then would never run, and the attachment would stay.
    const QString connection = shared_->connection;
    connect(&thread_, &QThread::finished, worker_, [connection] {
        if (QSqlDatabase::contains(connection)) {
            QSqlDatabase::database(connection, false).close();
            QSqlDatabase::removeDatabase(connection);
        }
    }, Qt::DirectConnection);
    thread_.start();
}

PenaltyLogReader::~PenaltyLogReader()
{
    shared_->closing = true;
    shared_->cancelExport = true;
    CancelRunningStatement(shared_->attached);
    thread_.quit();
    thread_.wait();
    delete worker_;
}

void PenaltyLogReader::post(std::function<void()> job)
{
    const std::shared_ptr<Shared> shared = shared_;
    QMetaObject::invokeMethod(
        worker_,
        [shared, job = std::move(job)] {
            if (!shared->closing)
                job();
        },
        Qt::QueuedConnection);
}

void PenaltyLogReader::Find(const QString& text, const QString& kind, int limit)
{
    const int search = ++shared_->latestSearch;
    const std::shared_ptr<Shared> shared = shared_;
    post([this, shared, search, text, kind, limit] {
        const auto superseded = [&] { return search != shared->latestSearch || shared->closing; };
        if (superseded())
            return;
        QSqlDatabase db;
        try {
            db = attachment(shared->source, shared->connection, shared->attached);
            // One transaction: the count is of the log the events come from.
            db.transaction();
            const QList<PenaltyEvent> events = ReadEvents(db, text, kind, limit);
            const int total = events.size() < limit || superseded() ? int(events.size()) : CountEvents(db, text, kind);
            db.commit();
            detach(shared->attached, db);
            QMetaObject::invokeMethod(this, [this, shared, search, events, total] {
                if (search == shared->latestSearch)
                    emit Found(events, total);
            }, Qt::QueuedConnection);
        } catch (const std::exception& e) {
            if (db.isOpen())
                db.rollback();
            detach(shared->attached, db);
            const QString message = messageOf(e);
            QMetaObject::invokeMethod(this, [this, message] { emit SearchFailed(message); }, Qt::QueuedConnection);
        }
    });
}

void PenaltyLogReader::Export(const QString& fileName, const QString& text, const QString& kind)
{
    shared_->cancelExport = false;
    const std::shared_ptr<Shared> shared = shared_;
    post([this, shared, fileName, text, kind] {
        const auto report = [this](int written, int total) {
            QMetaObject::invokeMethod(this, [this, written, total] { emit ExportProgress(written, total); },
                                      Qt::QueuedConnection);
        };
        QString error;
        bool cancelled = false;
        QSqlDatabase db;
        try {
            db = attachment(shared->source, shared->connection, shared->attached);
            QSaveFile file(fileName);
            if (!file.open(QIODevice::WriteOnly))
                throw Error(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()));
            db.transaction();
            const int total = CountEvents(db, text, kind);
            report(0, total);
            QByteArray chunk = PenaltiesCsvTitle();
            int written = 0;
            ForEachEvent(db, text, kind, 0, [&](const PenaltyEvent& event) {
                chunk += PenaltyCsvLine(event);
                if (chunk.size() >= ChunkBytes)
                    writeChunk(file, chunk);
                if (++written % ProgressEvents == 0)
                    report(written, total);
                cancelled = shared->cancelExport;
                return !cancelled;
            });
            db.commit();
            if (cancelled) {
                file.cancelWriting();
            } else {
                writeChunk(file, chunk);
                if (!file.commit())
                    throw Error(QStringLiteral("Cannot write %1: %2").arg(fileName, file.errorString()));
                report(written, total);
            }
        } catch (const std::exception& e) {
            if (db.isOpen())
                db.rollback();
            error = messageOf(e);
        }
        detach(shared->attached, db);
        QMetaObject::invokeMethod(this, [this, error, cancelled] { emit ExportDone(error, cancelled); },
                                  Qt::QueuedConnection);
    });
}

void PenaltyLogReader::CancelExport() { shared_->cancelExport = true; }

}  // namespace palisor
