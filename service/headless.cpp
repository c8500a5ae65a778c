#include "service/headless.h"

#include "core/error.h"
#include "core/shellutils.h"
#include "monitor/monitorrules.h"
#include "monitor/monitorthread.h"
#include "service/eventwriter.h"
#include "store/datapalisor.h"
#include "store/monitorclaim.h"

#include <QCoreApplication>

#include <cstdio>
#include <utility>

namespace palisor {

// The settings row as the engine's attachment holds it.
struct SettingsRow {
    MonitorSettings monitor;
    QString msgOn;
    QString msgTime;

    // What the monitor takes only when it starts: the strike limit and the
    // announcement timer.
    bool sameStart(const SettingsRow& other) const
    {
        return monitor.scanTime == other.monitor.scanTime && msgOn == other.msgOn && msgTime == other.msgTime;
    }
    bool operator==(const SettingsRow& other) const
    {
        return sameStart(other) && monitor.host == other.monitor.host && monitor.port == other.monitor.port
               && monitor.password == other.monitor.password && monitor.maxPing == other.monitor.maxPing;
    }
};

namespace {

SettingsRow ReadSettings(TDataPalisor& data)
{
    const LiveTable& row = *data.tblSettings;
    if (row.rowCount() == 0)
        throw Error(QStringLiteral("The database holds no settings row"));
    return {{row.text(QStringLiteral("ADDRESS")), row.text(QStringLiteral("PORT")), row.text(QStringLiteral("PASSWORD")),
             row.text(QStringLiteral("SCANTIME")), row.text(QStringLiteral("MAXPING"))},
            row.text(QStringLiteral("MSGON")), row.text(QStringLiteral("MSGTIME"))};
}

// A number of the server or the settings as a json number; null when the
// text holds none, so that a key never changes its type.
QVariant number(const QString& text)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    return ok ? QVariant(value) : QVariant();
}

// Runs work on the receiver's thread, from its loop, after what is queued there.
template <typename Work>
void Later(QObject* receiver, Work&& work)
{
    QMetaObject::invokeMethod(receiver, std::forward<Work>(work), Qt::QueuedConnection);
}

}  // namespace

HeadlessMonitor::HeadlessMonitor(TDataPalisor& data, int serverId, const QString& name, TRcon& rcon,
                                 EventWriter& events)
    : data_(data), name_(name), events_(events),
      thread_(std::make_unique<MonitorThread>(
          [make = data.Maker(), serverId] {
              std::unique_ptr<TDataPalisor> made = make();
              made->SetServer(serverId);
              return made;
          },
          rcon))
{
    MonitorEngine& engine = thread_->engine();
    connect(&engine, &MonitorEngine::monitorEvent, this, &HeadlessMonitor::Report);
    connect(&engine, &MonitorEngine::errorRaised, this, &HeadlessMonitor::Failed);
    connect(&engine, &MonitorEngine::serverInfoShown, this,
            [this](ServerBox box, const QString& text) { boxes_[static_cast<int>(box)] = text; });
    // Heard for every server's row: only a change of this one's is acted on.
    connect(&engine, &MonitorEngine::settingsCommitted, this, [this] {
        if (monitoring_)
            Post([this](MonitorEngine& engine) { Apply(engine, false); });
    });
    connect(&engine, &MonitorEngine::serverInfoCleared, this, [this] {
        for (QString& box : boxes_)
            box.clear();
    });
}

HeadlessMonitor::~HeadlessMonitor()
{
    thread_.reset();
    // What the engine reported on its way out is written too.
    QCoreApplication::sendPostedEvents(this);
    WriteStop();
}

void HeadlessMonitor::Write(const QString& event, QList<std::pair<QString, QVariant>> fields)
{
    fields.prepend({QStringLiteral("server"), name_});
    events_.write(event, fields);
}

void HeadlessMonitor::Post(std::function<void(MonitorEngine&)> work)
{
    thread_->post([this, work = std::move(work)](MonitorEngine& engine) {
        try {
            work(engine);
        } catch (const std::exception& e) {
            Later(this, [this, message = messageOf(e)] {
                Write(QStringLiteral("error"), {{QStringLiteral("message"), message}});
                data_.WriteLog(QStringLiteral("Exception: ") + message);
                Fatal(message, IsClaimedByAnother(message) ? ExitClaimed : 1);
            });
        }
    });
}

void HeadlessMonitor::StartWith(MonitorEngine& engine, const SettingsRow& row)
{
    engine.SetSettings(row.monitor);
    Later(this, [this, row] {
        settings_ = row.monitor;
        announcements_ = IsTrueText(row.msgOn) ? number(row.msgTime) : QVariant(0);
        // An earlier end (a refused start, a stop by an error) is over.
        ending_ = false;
        lastError_.clear();
        waitSaid_ = false;
    });
    engine.Start();
    // Its error has gone ahead to the main thread.
    if (!engine.Running())
        Later(this, [this] { Fatal(lastError_); });
}

void HeadlessMonitor::Apply(MonitorEngine& engine, bool forced)
{
    const SettingsRow before = applied_ ? *applied_ : SettingsRow{};
    if (forced)
        engine.ListsChanged();
    else
        engine.Data().Resynchronise({engine.Data().tblSettings});
    // The server was removed: the program ends this monitor.
    if (engine.Data().tblSettings->rowCount() == 0 && applied_)
        return;
    const SettingsRow after = ReadSettings(engine.Data());
    const bool changed = !applied_ || !(before == after);
    applied_ = std::make_unique<SettingsRow>(after);
    if (!forced && !changed)
        return;
    if (!forced)
        Later(this, [this] { Write(QStringLiteral("reload")); });
    if (after.monitor.password.isEmpty()) {
        // Polled without one the server would refuse every command.
        if (engine.Running()) {
            Later(this, [this] { stopReason_ = QStringLiteral("no console password"); });
            engine.Stop();
        }
        Later(this, [this] {
            if (!std::exchange(waitSaid_, true))
                Write(QStringLiteral("wait"), {{QStringLiteral("reason"), QStringLiteral("no console password")}});
        });
        return;
    }
    if (!engine.Running()) {
        StartWith(engine, after);
        return;
    }
    if (before.sameStart(after)) {
        engine.SetSettings(after.monitor);
        return;
    }
    Later(this, [this] { stopReason_ = QStringLiteral("reload"); });
    engine.Stop();
    StartWith(engine, after);
}

void HeadlessMonitor::Start()
{
    monitoring_ = true;
    Post([this](MonitorEngine& engine) { Apply(engine, true); });
}

void HeadlessMonitor::Reload()
{
    Post([this](MonitorEngine& engine) { Apply(engine, true); });
}

void HeadlessMonitor::Once(std::function<void(const StatusReport&, const QString&)> done)
{
    once_ = true;
    thread_->post([this, done](MonitorEngine& engine) {
        StatusReport report;
        report.name = name_;
        try {
            const MonitorSettings settings = ReadSettings(engine.Data()).monitor;
            report.server = settings.host + QLatin1Char(':') + settings.port;
            if (settings.password.isEmpty())
                throw Error(QStringLiteral("No console password is set for this server"));
            // Its poll enforces the rules too, which is the running monitor's job.
            const std::optional<MonitorClaim> claim = ReadClaim(engine.Data().database(), engine.Data().ServerId());
            if (claim && KeepsOthersOff(*claim, QDateTime::currentDateTimeUtc()))
                throw Error(claim->describe(report.server));
            engine.SetSettings(settings);
            engine.Status();
            LiveTable& players = *engine.Data().tblPlayers;
            players.refresh();
            for (int row = 0; row < players.rowCount(); ++row) {
                QStringList line;
                for (const char* column : {"CLIENTID", "NAME", "ADDRESS", "PORT", "PING"})
                    line << players.value(row, QLatin1String(column)).toString();
                report.players << line;
            }
        } catch (const std::exception& e) {
            Later(this, [this, message = messageOf(e)] {
                data_.WriteLog(QStringLiteral("Exception: ") + message);
                lastError_ = message;
            });
        }
        // The server information and the error, if any, are ahead of this
        // in the main thread's queue.
        Later(this, [this, done, report]() mutable {
            std::copy(std::begin(boxes_), std::end(boxes_), std::begin(report.boxes));
            done(report, lastError_);
        });
    });
}

void HeadlessMonitor::Report(const MonitorEvent& event)
{
    using Kind = MonitorEvent::Kind;
    switch (event.kind) {
    case Kind::Started:
        Write(QStringLiteral("start"), {{QStringLiteral("address"), settings_.host},
                                                {QStringLiteral("port"), number(settings_.port)},
                                                {QStringLiteral("scantime"), number(settings_.scanTime)},
                                                {QStringLiteral("maxping"), number(settings_.maxPing)},
                                                {QStringLiteral("announcements"), announcements_}});
        break;
    case Kind::Stopped:
        // A stop nobody asked for is the engine's answer to an error, which
        // it reports right after the stop: the line waits for the error (one
        // round through the engine's thread), so that it follows the error
        // and carries it as its reason.
        stopPending_ = true;
        if (!stopReason_.isEmpty())
            WriteStop();
        else if (thread_)
            thread_->post([this](MonitorEngine&) { Later(this, [this] { WriteStop(); }); });
        break;
    case Kind::Poll:
        Write(QStringLiteral("poll"), {{QStringLiteral("players"), event.players},
                                               {QStringLiteral("kicks"), event.kicks}});
        // The process's own attachment mostly waits for the servers' changes.
        data_.RenewSnapshot();
        break;
    case Kind::Kick:
    case Kind::Refusal:
    case Kind::BanStored: {
        QList<std::pair<QString, QVariant>> fields{
            {QStringLiteral("clientid"), number(event.clientId)}, {QStringLiteral("name"), event.name},
            {QStringLiteral("address"), event.address},   {QStringLiteral("reason"), event.reason},
            {QStringLiteral("source"), event.source}};
        if (event.kind == Kind::Kick)
            fields.append({QStringLiteral("reply"), event.text});
        Write(event.kind == Kind::Kick      ? QStringLiteral("kick")
                      : event.kind == Kind::Refusal ? QStringLiteral("refusal")
                                                    : QStringLiteral("ban"),
                      fields);
        break;
    }
    case Kind::BanRequest:
        Write(QStringLiteral("ban-request"), {{QStringLiteral("clientid"), number(event.clientId)}});
        break;
    case Kind::Announcement:
        Write(QStringLiteral("announcement"), {{QStringLiteral("text"), event.text}});
        break;
    case Kind::Maintenance:
        Write(QStringLiteral("maintenance"), {{QStringLiteral("state"), event.text}});
        break;
    case Kind::Error:
        Write(QStringLiteral("error"), {{QStringLiteral("message"), event.text}});
        break;
    case Kind::DatabaseLost:
        Write(QStringLiteral("database-lost"), {{QStringLiteral("message"), event.text}});
        break;
    case Kind::DatabaseBack:
        Write(QStringLiteral("database-back"),
              {{QStringLiteral("written"), event.written}, {QStringLiteral("dropped"), event.dropped}});
        emit databaseBack();
        break;
    }
}

void HeadlessMonitor::WriteStop()
{
    if (!std::exchange(stopPending_, false))
        return;
    Write(QStringLiteral("stop"), {{QStringLiteral("reason"), stopReason_}});
    stopReason_.clear();
}

void HeadlessMonitor::Failed(const QString& message)
{
    lastError_ = message;
    data_.WriteLog(QStringLiteral("Exception: ") + message);
    // The engine stops the monitor for these; without a window nobody could
    // start it again, so the program ends and its service manager decides.
    // A refused password or a bad port stays wrong until the administrator
    // mends the settings: sysexits' EX_CONFIG, which the service's unit does
    // not restart. A game server that is down may come back.
    // Another monitor holds the game server: sysexits' EX_TEMPFAIL, so the
    // service manager tries again later and takes over once it has ended.
    if (!once_ && IsClaimedByAnother(message)) {
        stopReason_ = message;
        Fatal(message, ExitClaimed);
        return;
    }
    if (!once_ && StopsMonitor(message)) {
        stopReason_ = message;
        const bool serverDown = message.contains(QLatin1String("socket error"), Qt::CaseInsensitive);
        Fatal(message, serverDown ? 1 : 78);
    }
}

void HeadlessMonitor::Fatal(const QString& message, int exitCode)
{
    if (std::exchange(ending_, true))
        return;
    exitCode_ = exitCode;
    // The claim's message names the server already.
    WriteError("palisor-monitor", exitCode == ExitClaimed ? message : name_ + QStringLiteral(": ") + message);
    emit ended(exitCode);
}

QString StatusReportText(const StatusReport& report)
{
    static const char* const labels[5] = {"Server:", "Game type:", "Players:", "Map:", "Next map:"};
    QString text;
    for (int box = 0; box < 5; ++box)
        text += QStringLiteral("%1 %2\n").arg(QLatin1String(labels[box]), -10).arg(EscapeControls(report.boxes[box]));
    QList<QStringList> rows{{QStringLiteral("Num"), QStringLiteral("Name"), QStringLiteral("Address"),
                             QStringLiteral("Port"), QStringLiteral("Ping")}};
    for (const QStringList& player : report.players) {
        QStringList shown;
        for (const QString& cell : player)
            shown << EscapeControls(cell);
        rows << shown;
    }
    QList<qsizetype> widths(rows.first().size(), 0);
    for (const QStringList& row : rows)
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths[column], row[column].size());
    text += QLatin1Char('\n');
    for (const QStringList& row : rows) {
        QString line;
        for (int column = 0; column + 1 < row.size(); ++column)
            line += row[column].leftJustified(widths[column] + 2);
        text += line + row.last() + QLatin1Char('\n');
    }
    return text;
}

QList<std::pair<QString, QVariant>> StatusReportFields(const StatusReport& report)
{
    QVariantList players;
    for (const QStringList& player : report.players)
        players << QVariantMap{{QStringLiteral("clientid"), number(player[0])}, {QStringLiteral("name"), player[1]},
                               {QStringLiteral("address"), player[2]}, {QStringLiteral("port"), number(player[3])},
                               {QStringLiteral("ping"), number(player[4])}};
    // The players box reads "8/32".
    const QString count = report.boxes[static_cast<int>(ServerBox::PlyrCnt)];
    return {{QStringLiteral("hostname"), report.boxes[0]}, {QStringLiteral("gametype"), report.boxes[1]},
            {QStringLiteral("players"), number(count.section(QLatin1Char('/'), 0, 0))},
            {QStringLiteral("maxplayers"), number(count.section(QLatin1Char('/'), 1, 1))},
            {QStringLiteral("map"), report.boxes[3]},
            {QStringLiteral("nextmap"), report.boxes[4]}, {QStringLiteral("playerlist"), players}};
}

}  // namespace palisor
