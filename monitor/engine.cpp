#include "monitor/engine.h"

#include "core/error.h"
#include "core/shellutils.h"
#include "monitor/monitorrules.h"
#include "monitor/pollgate.h"
#include "monitor/textrules.h"
#include "store/datapalisor.h"
#include "store/dbevents.h"
#include "store/letgo.h"

#include <QScopeGuard>
#include <QTimer>

namespace palisor {
namespace {

// How the engine ends its work at the next exchange when asked to.
class Interrupted : public Error {
public:
    Interrupted() : Error(QStringLiteral("Monitor interrupted")) {}
};

// Another monitor took the claim over while this one was not renewing it
// (a host asleep, a clock jump): this one stops, telling who monitors now.
class ClaimLost : public Error {
public:
    using Error::Error;
};

// How often the maintenance cycle looks whether the program is ending while
// it waits for the other attachment to let go.
constexpr int kReleaseCheckMs = 100;
// How long the maintenance cycle waits for the other servers' polls under
// way to end; a poll kicking several players takes a quarter of this.
constexpr int kPollsEndMs = 60000;

}  // namespace

MonitorEngine::MonitorEngine(std::function<std::unique_ptr<TDataPalisor>()> makeData, TRcon& rcon)
    : makeData_(std::move(makeData)), rcon_(rcon)
{
    qRegisterMetaType<palisor::ServerBox>();
    qRegisterMetaType<palisor::MonitorEvent>();
    qRegisterMetaType<palisor::MonitorSettings>();
}

MonitorEngine::~MonitorEngine() = default;

template <typename Work>
void MonitorEngine::Run(Work&& work)
{
    try {
        work();
    } catch (const Interrupted&) {
    } catch (const std::exception& e) {
        const QString message = messageOf(e);
        MonitorEvent event{MonitorEvent::Kind::Error};
        event.text = message;
        emit monitorEvent(event);
        emit errorRaised(message);
    }
}

template <typename Work>
void MonitorEngine::RunAction(const QString& what, Work&& work)
{
    if (interruptAll_ && endingFailed_) {
        data_->WriteLog(QStringLiteral("Dropped at exit after a failed exchange: ") + what);
        return;
    }
    action_ = true;
    const auto done = qScopeGuard([this] { action_ = false; });
    Run([&] {
        try {
            work();
        } catch (const std::exception& e) {
            // The window no longer shows errors once the program ends.
            if (interruptAll_) {
                endingFailed_ = true;
                data_->WriteLog(QStringLiteral("Exception: ") + messageOf(e));
            }
            throw;
        }
    });
}

void MonitorEngine::Open()
{
    Run([this] {
        statusTimer_ = new QTimer(this);
        statusTimer_->setInterval(1000);
        connect(statusTimer_, &QTimer::timeout, this, &MonitorEngine::StatusTimerTimer);
        msgTimer_ = new QTimer(this);
        msgTimer_->setInterval(120000);
        connect(msgTimer_, &QTimer::timeout, this, &MonitorEngine::MsgTimerTimer);

        data_ = makeData_();
        monitor_ = std::make_unique<TMonitor>(*data_, rcon_, static_cast<MonitorView&>(*this));
        announcements_ = std::make_unique<AnnouncementScheduler>(*data_, [this](const QString& command) {
            const QString reply = monitor_->SendCommand(command);
            MonitorEvent said{MonitorEvent::Kind::Announcement};
            said.text = command.mid(4);
            emit monitorEvent(said);
            return reply;
        });
        data_->setOtherAttachments([this] { return ReleaseOtherAttachment(); },
                                   [this](bool completed) { ResumeOtherAttachment(completed); });
        connect(data_.get(), &TDataPalisor::cycleBegun, this, [this] { ReportMaintenance(QStringLiteral("begun")); });
        connect(data_.get(), &TDataPalisor::cyclePostponed, this,
                [this](const QString& why) { ReportMaintenance(QStringLiteral("postponed: ") + why); });
        data_->OpenAttachment();
        // Another program's cycle (this engine's own runs on this thread and
        // is over before the request is heard) has it close the attachment
        // until the file is back.
        new LetGoWatch(*data_, [this] { data_->Resynchronise(data_->tables()); }, data_.get());
        connect(data_.get(), &TDataPalisor::notified, data_.get(), [this](const QString& event) {
            if (event == QLatin1String(SettingsEvent)) {
                emit settingsCommitted();
            } else if (event == QLatin1String(ListsEvent)) {
                listsDirty_ = true;
                emit listsCommitted();
            }
        });
        data_->Listen({QLatin1String(ListsEvent), QLatin1String(SettingsEvent)});
        connect(data_.get(), &TDataPalisor::databaseLost, this, [this](const QString& error) {
            MonitorEvent lost{MonitorEvent::Kind::DatabaseLost};
            lost.text = error;
            emit monitorEvent(lost);
            ShowStatus(QString());
        });
        connect(data_.get(), &TDataPalisor::databaseBack, this, [this](int written, int dropped) {
            // The lists were read again with the reconnect.
            listsDirty_ = false;
            MonitorEvent back{MonitorEvent::Kind::DatabaseBack};
            back.written = written;
            back.dropped = dropped;
            emit monitorEvent(back);
            emit statusShown(QStringLiteral("The database server is back"));
        });
    });
}

void MonitorEngine::ShowStatus(const QString& text)
{
    // Said for as long as it lasts, unless a kick has news.
    if (text.isEmpty() && data_ && data_->Lost())
        emit statusShown(QStringLiteral("The database server is gone; the monitor keeps its records in memory"));
    else
        emit statusShown(text);
}

void MonitorEngine::Close()
{
    if (statusTimer_)
        statusTimer_->stop();
    if (msgTimer_)
        msgTimer_->stop();
    Run([this] {
        if (!data_)
            return;
        // What was kept while the database server was gone is written if it
        // is back by now; otherwise the log says what is lost.
        if (data_->Lost() && !data_->Reconnect()) {
            claimed_ = false;
            data_->Abandon();
            return;
        }
        ReleaseClaim();
        data_->DisconnectDatabase();
    });
    announcements_.reset();
    monitor_.reset();
    data_.reset();
}

void MonitorEngine::SetSettings(const MonitorSettings& settings) { settings_ = settings; }

void MonitorEngine::ListsChanged()
{
    Run([this] {
        listsDirty_ = false;
        data_->Resynchronise(data_->tables());
    });
}

void MonitorEngine::Start()
{
    if (running_)
        return;
    Run([this] { SetMonitor(true); });
}

void MonitorEngine::Stop()
{
    interruptPoll_ = false;
    if (!running_)
        return;
    Run([this] { SetMonitor(false); });
}

void MonitorEngine::SetMonitor(bool on)
{
    if (on) {
        const int scanTime = ToInteger(settings_.scanTime);
        monitor_->Start(scanTime);
        if (HasClaims()) {
            QSqlDatabase db = data_->database();
            TakeClaim(db, data_->ServerId(), identity_, scanTime, ServerAddress(), QDateTime::currentDateTimeUtc(),
                      [this](const QString& line) { data_->WriteLog(line); });
            claimed_ = true;
        }
        progressMaximum_ = scanTime;
        SetProgress(0);
        const AnnouncementScheduler::TimerSetting announce = announcements_->StartAnnouncements();
        if (announce.enabled) {
            msgTimer_->setInterval(announce.interval);
            msgTimer_->start();
        }
        running_ = true;
        emit runningChanged(true);
        data_->WriteLog(QStringLiteral("Started Server Monitor"));
        emit monitorEvent(MonitorEvent{MonitorEvent::Kind::Started});
        PollServer();
        return;
    }
    msgTimer_->stop();
    statusTimer_->stop();
    SetProgress(0);
    running_ = false;
    emit runningChanged(false);
    EnableSettings(true);
    data_->WriteLog(QStringLiteral("Stopped Server Monitor"));
    emit monitorEvent(MonitorEvent{MonitorEvent::Kind::Stopped});
    ReleaseClaim();
}

bool MonitorEngine::HasClaims() const { return data_->HasHistory(); }

void MonitorEngine::StorePoll(const QString& error)
{
    // The claim is renewed once the database is back; until then nobody
    // else can take it over either.
    if (!claimed_ || data_->Lost())
        return;
    ServerState state;
    state.polled = QDateTime::currentDateTimeUtc();
    state.pollError = error;
    const auto box = [this](ServerBox which) { return boxes_[static_cast<int>(which)]; };
    state.hostName = box(ServerBox::HostName);
    state.gameType = box(ServerBox::GameType);
    state.playerCount = box(ServerBox::PlyrCnt);
    state.curMap = box(ServerBox::CurMap);
    state.nextMap = box(ServerBox::NextMap);
    state.players = data_->CountRows(data_->tblPlayers);
    const ServerSample& sample = monitor_->LastSample();
    state.maxPlayers = sample.maxPlayers;
    state.pingMedian = sample.medianPing.isNull() ? -1 : sample.medianPing.toInt();
    QSqlDatabase db = data_->database();
    if (palisor::StorePoll(db, data_->ServerId(), identity_, ToInteger(settings_.scanTime), state))
        return;
    claimed_ = false;
    const std::optional<MonitorClaim> now = ReadClaim(db, data_->ServerId());
    data_->WriteLog(QStringLiteral("The claim on the game server was taken over"));
    throw ClaimLost(now ? now->describe(ServerAddress())
                        : QStringLiteral("The claim on the server %1 was taken over.").arg(ServerAddress()));
}

void MonitorEngine::ReleaseClaim()
{
    if (!std::exchange(claimed_, false))
        return;
    // A claim left behind goes stale and is taken over, so a failed
    // release is only logged.
    try {
        QSqlDatabase db = data_->database();
        palisor::ReleaseClaim(db, data_->ServerId(), identity_);
    } catch (const std::exception& e) {
        data_->WriteLog(QStringLiteral("The claim on the game server could not be released: ") + messageOf(e));
    }
}

bool MonitorEngine::PollServer()
{
    // Another server's maintenance cycle has the data folder: this poll is
    // left out, quietly, rather than failing for a file that is away.
    PollGate& gate = PollGate::of(data_->dataFolder());
    if (!gate.enter())
        return false;
    const auto left = qScopeGuard([&gate] { gate.leave(); });
    statusTimer_->stop();
    polling_ = true;
    try {
        // While the database server is gone: one attempt each poll, which
        // says nothing when it fails. The poll goes on either way.
        if (data_->Lost())
            data_->Reconnect();
        SeeListsOrLoseThem();
        monitor_->RefreshServer();
        StorePoll(QString());
    } catch (const std::exception& e) {
        polling_ = false;
        statusTimer_->start();
        emit commandsEnabled(true);
        // Told once, when noticed; the monitor goes on from memory.
        if (data_->NoteLoss(messageOf(e)))
            return true;
        QString lostTo = dynamic_cast<const ClaimLost*>(&e) ? messageOf(e) : QString();
        if (lostTo.isEmpty() && !dynamic_cast<const Interrupted*>(&e)) {
            // The error the poll ended with is what matters; one storing it
            // (the database is gone too, say) adds nothing.
            try {
                StorePoll(messageOf(e));
            } catch (const ClaimLost& taken) {
                lostTo = taken.message();
            } catch (const std::exception&) {
            }
        }
        if (!lostTo.isEmpty()) {
            SetMonitor(false);
            throw ClaimLost(lostTo);
        }
        if (StopsMonitor(messageOf(e)))
            SetMonitor(false);
        throw;
    }
    polling_ = false;
    statusTimer_->start();
    emit commandsEnabled(true);
    return true;
}

void MonitorEngine::StatusTimerTimer()
{
    Run([this] {
        SetProgress(progress_ + 1);
        if (progress_ != progressMaximum_)
            return;
        try {
            if (PollServer())
                data_->SweepDatabase();
        } catch (...) {
            SetProgress(0);
            throw;
        }
        SetProgress(0);
    });
}

void MonitorEngine::SetProgress(int position)
{
    progress_ = position;
    emit progressChanged(progress_, progressMaximum_);
}

void MonitorEngine::MsgTimerTimer()
{
    Run([this] { announcements_->MsgTimerTimer(); });
}

void MonitorEngine::Status()
{
    Run([this] {
        try {
            SeeOtherCommits();
            monitor_->RefreshServer();
        } catch (...) {
            EnableSettings(true);
            throw;
        }
        EnableSettings(true);
    });
}

void MonitorEngine::Clear()
{
    Run([this] {
        SeeOtherCommits();
        data_->DeletePlayers();
        emit playersRebuilt();
        ClearServerInfo();
    });
}

void MonitorEngine::DeletePlayer(const QString& clientId)
{
    Run([this, clientId] {
        SeeOtherCommits();
        data_->DeletePlayer(clientId);
        emit playersRebuilt();
        RefreshActionMenu();
    });
}

void MonitorEngine::ExecCmd(const QString& command)
{
    RunAction(command, [this, command] { emit responseReady(monitor_->SendCommand(command), command); });
}

void MonitorEngine::SendNow(const QString& command)
{
    RunAction(command, [this, command] { emit messageReady(monitor_->SendCommand(command)); });
}

void MonitorEngine::Kick(const QString& clientId, const QString& name, const QString& address,
                         const QString& reason)
{
    RunAction(QStringLiteral("kick of %1 (%2)").arg(name, reason), [&] {
        SeeOtherCommits();
        emit messageReady(monitor_->KickPlayer(clientId, name, reason, address, EventSource::Admin));
    });
}

void MonitorEngine::Ban(const QString& clientId, const QString& name, const QString& address,
                        const QString& reason)
{
    RunAction(QStringLiteral("ban of %1 at %2 (%3)").arg(name, address, reason), [&] {
        SeeOtherCommits();
        emit messageReady(monitor_->BanAndKick(clientId, name, address, reason));
    });
}

void MonitorEngine::Dumpuser(const QString& name)
{
    RunAction(QStringLiteral("dumpuser of ") + name, [&] {
        const TMonitor::Response response = monitor_->DumpUser(name);
        emit responseReady(response.reply, response.title);
    });
}

void MonitorEngine::SeeOtherCommits()
{
    // A write must not work from a snapshot older than the window's last
    // change: deleting a row the window deleted since would conflict.
    if (!std::exchange(listsDirty_, false)) {
        data_->Resynchronise({});
        return;
    }
    // The lists alone: PLAYERS and RECENT are the poll's own, and large.
    try {
        data_->Resynchronise({data_->tblIllegal, data_->tblImmune, data_->tblBanned, data_->tblMessages,
                              data_->tblMapAlias});
    } catch (...) {
        listsDirty_ = true;
        throw;
    }
}

void MonitorEngine::SeeListsOrLoseThem()
{
    if (data_->Lost())
        return;
    try {
        SeeOtherCommits();
        // So that the look-ups can answer from memory should the database go.
        data_->PrepareRules();
    } catch (const std::exception& e) {
        if (!data_->NoteLoss(messageOf(e)))
            throw;
    }
}

void MonitorEngine::RefreshActionMenu() { emit actionMenuChanged(data_->CountRows(data_->tblPlayers) > 0); }

void MonitorEngine::ClearServerInfo()
{
    for (QString& box : boxes_)
        box.clear();
    emit serverInfoCleared();
    RefreshActionMenu();
}

void MonitorEngine::ShowServerInfo(ServerBox box, const QString& text)
{
    boxes_[static_cast<int>(box)] = text;
    emit serverInfoShown(box, text);
}

void MonitorEngine::UpdateVariables()
{
    const auto box = [this](ServerBox which) { return boxes_[static_cast<int>(which)]; };
    palisor::UpdateVariables(*data_, VariableBoxes{settings_.host, box(ServerBox::HostName), box(ServerBox::GameType),
                                                   box(ServerBox::CurMap), box(ServerBox::NextMap)});
    emit variablesChanged(data_->Variables);
}

void MonitorEngine::BeforeExchange()
{
    if ((interruptAll_ && !action_) || (interruptPoll_ && polling_))
        throw Interrupted();
}

void MonitorEngine::ReportMaintenance(const QString& state)
{
    MonitorEvent event{MonitorEvent::Kind::Maintenance};
    event.text = state;
    emit monitorEvent(event);
}

QString MonitorEngine::ReleaseOtherAttachment()
{
    PollGate& gate = PollGate::of(data_->dataFolder());
    if (!gate.close([this] { return interruptAll_.load(); }, kPollsEndMs)) {
        if (interruptAll_)
            throw Interrupted();
        return QStringLiteral("the other servers' polls did not end");
    }
    // Open again unless the cycle goes ahead; its end opens it then.
    auto reopen = qScopeGuard([&gate] { gate.open(); });
    if (otherAttachment_) {
        emit releaseRequested();
        // The program may end meanwhile; then the window closes its attachment
        // in its own shut-down and the cycle waits for the next run.
        while (!released_.tryAcquire(1, kReleaseCheckMs)) {
            if (interruptAll_)
                throw Interrupted();
        }
        if (!kept_.isEmpty())
            return kept_;
    }
    reopen.dismiss();
    return QString();
}

void MonitorEngine::ResumeOtherAttachment(bool completed)
{
    PollGate::of(data_->dataFolder()).open();
    if (otherAttachment_)
        emit resumeAllowed();
    // A failed cycle is reported by its error instead.
    if (completed)
        ReportMaintenance(QStringLiteral("ended"));
}

}  // namespace palisor
