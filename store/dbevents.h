#pragma once

#include <QObject>
#include <QSqlDatabase>
#include <QString>
#include <QStringList>
#include <vector>

namespace palisor {

// Posted by the database's triggers in the commit that changes a list
// (BANNED, IMMUNE, ILLEGAL, MAPALIAS, MESSAGES) or the settings row, so a
// running program reads them again without being told by hand.
inline constexpr char ListsEvent[] = "PALISOR_LISTS";
inline constexpr char SettingsEvent[] = "PALISOR_SETTINGS";

// The database events (POST_EVENT, committed by any attachment, this one
// included) a connection hears, asked for through the engine's own
// interface. The SQL driver's own subscriptions free their buffers while the
// engine's event thread may still be writing a last notice into them, which
// brought programs down as they closed a connection; here a buffer lives
// until the engine can no longer write to it.
class DbEvents : public QObject {
    Q_OBJECT
public:
    explicit DbEvents(QObject* parent = nullptr);
    ~DbEvents() override;

    // The names to hear from now on: asked for at once while started, and at
    // every start after.
    void add(const QStringList& names);
    // Asks for every name on the open connection.
    void start(const QSqlDatabase& db);
    // Gives up the names right before the connection ends (its end takes
    // back what the engine still holds); nothing is heard until the next
    // start.
    void stop();
    // Whether every name has had the engine's first notice, which gives the
    // count the later ones are told from: a commit before it may go unheard
    // (the attachment reads afresh when it has started, see attached()).
    bool listening() const;

signals:
    // On this object's thread, which needs an event loop; never inside the
    // engine's own call, so a listener may close the connection.
    void heard(const QString& name);
    // A name the engine would not take, for the log; the connection works on
    // without it, seeing the others' commits only when it reads for reasons
    // of its own.
    void refused(const QString& line);

private:
    struct Request;
    void ask(const QString& name);
    // Queues the request's next notice; false (with why) when refused.
    bool queue(Request* request, QString* why);
    void deliver(Request* request);

    unsigned db_ = 0;   // the engine's handle of the started connection
    bool started_ = false;
    QStringList names_;
    std::vector<Request*> requests_;
};

}  // namespace palisor
