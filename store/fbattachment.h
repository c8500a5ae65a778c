#pragma once

#include <QSqlDatabase>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

namespace palisor {

// An attachment through the engine's own interface, for work that must be
// able to undo a failed commit: the SQL driver forgets a transaction whose
// commit failed, which then stays alive holding its locks until the process
// ends, and every other attachment waits on them. Every transaction here
// waits at most LockTimeoutSeconds for another's locks. Throws palisor::Error
// with the engine's message on any failure.
class FbAttachment {
public:
    static constexpr int LockTimeoutSeconds = 10;

    FbAttachment(const QString& file, const QString& user, const QString& password);
    // Rolls back the running transaction, if any, then detaches.
    ~FbAttachment();
    FbAttachment(const FbAttachment&) = delete;
    FbAttachment& operator=(const FbAttachment&) = delete;

    void begin();
    void commit();
    void rollback();
    // A statement with no result set, in the running transaction.
    void execute(const QString& statement);
    // The first column of the first row as a whole number; nothing when
    // there is no row or the value is NULL.
    std::optional<qint64> number(const QString& query);

private:
    struct Handles;
    std::unique_ptr<Handles> h_;
};

// The engine's message for a failed call's status vector, on one line.
QString EngineStatusText(const intptr_t* status);

// The engine's own handle of a connection the SQL driver opened; 0 when it
// is closed or not the engine's.
unsigned EngineHandle(const QSqlDatabase& db);
// Has the statement running on that attachment fail at once, from any
// thread; nothing happens when none runs or the attachment has ended.
void CancelRunningStatement(unsigned handle);

}  // namespace palisor
