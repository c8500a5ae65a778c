// The main window on a server another program monitors: it follows that
// program's claim and shows what its polls store, hearing of both through
// database events rather than reading the tables over and over.
#include "window/formpalisor.h"

#include "core/errorhandler.h"
#include "core/timing.h"
#include "monitor/monitorthread.h"
#include "store/datapalisor.h"
#include "window/playergrid.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace palisor {
namespace {

const QString kPolledEvent = QStringLiteral("PALISOR_POLLED");
const QString kClaimEvent = QStringLiteral("PALISOR_CLAIM");

}  // namespace

void TformPalisor::ListenToOthers()
{
    claimLapse_ = new QTimer(this);
    claimLapse_->setSingleShot(true);
    connect(claimLapse_, &QTimer::timeout, this, [this] { Guarded([this] { FollowClaim(); }); });
    // A poll matters also while not watching: a monitor whose claim went
    // stale may renew it after all, and a renewal posts no PALISOR_CLAIM.
    connect(&data_, &TDataPalisor::notified, this, [this](const QString& event) {
        if (event == kClaimEvent || event == kPolledEvent)
            Guarded([this] { FollowClaim(); });
    });
    // Events committed while the attachment was lent to a maintenance cycle
    // went unheard.
    connect(&data_, &TDataPalisor::attached, this, [this] { Guarded([this] { FollowClaim(); }); },
            Qt::QueuedConnection);
    data_.Listen({kPolledEvent, kClaimEvent});
}

void TformPalisor::FollowClaim()
{
    // While this program's engine runs the claim is its own; while the
    // attachment is closed for a maintenance cycle nothing is read.
    if (running_ || !data_.isConnected())
        return;
    data_.Resynchronise({});
    std::optional<MonitorClaim> claim = ReadClaim(data_.database(), data_.ServerId());
    if (claim && MonitorIdentity::current().holds(*claim))
        claim.reset();
    const QDateTime nowUtc = now().toUTC();
    const bool lapsed = claim && claim->staleAt(nowUtc);
    const bool was = watching_;
    watching_ = claim && !lapsed;
    claimLapse_->stop();
    if (watching_) {
        claim_ = *claim;
        // Renewed at every poll: unless a poll comes first, the claim is
        // looked at again the moment it goes stale.
        const QDateTime stale = claim_.renewed.addSecs(3 * qint64(claim_.scanTime) + 60);
        const qint64 wait = std::clamp<qint64>(nowUtc.msecsTo(stale) + 1000, 0, std::numeric_limits<int>::max());
        claimLapse_->start(int(wait));
        ShowStoredPoll(!was);
    } else if (was) {
        const QString who = QStringLiteral("%1 on %2 (process %3)").arg(claim_.program, claim_.host).arg(claim_.pid);
        // Its last poll's players are no longer anybody's: shown, a kick
        // could reach whoever took the slot since. The monitor's own exit
        // empties them as well, but only after it has let the claim go.
        data_.Resynchronise({data_.tblPlayers});
        data_.DeletePlayers();
        data_.tblPlayers->first();
        RefreshActionMenu();
        pollError_.clear();
        ShowStatus(lapsed ? who + QStringLiteral(" has not polled the server since ") +
                                claim_.renewed.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'")) +
                                QLatin1Char('.')
                          : who + QStringLiteral(" no longer monitors the server."));
    }
    btnStart->setToolTip(watching_ ? ClaimText() : QString());
    ShowControls();
}

void TformPalisor::ShowStoredPoll(bool entering)
{
    // The players and the server's state are one commit of the other
    // program's poll; the settings it polls with follow as well.
    data_.Resynchronise({data_.tblPlayers, data_.tblSettings});
    data_.tblPlayers->first();
    PlayerGrid->ArrangeColumns();
    RefreshActionMenu();
    PushSettings();
    const std::optional<ServerState> state = ReadServerState(data_.database(), data_.ServerId());
    if (state && state->polled.isValid()) {
        ShowServerInfo(ServerBox::HostName, state->hostName);
        ShowServerInfo(ServerBox::GameType, state->gameType);
        ShowServerInfo(ServerBox::PlyrCnt, state->playerCount);
        ShowServerInfo(ServerBox::CurMap, state->curMap);
        ShowServerInfo(ServerBox::NextMap, state->nextMap);
    } else {
        ClearServerInfo();
    }
    // A failed poll says why once, and the next good one puts back who
    // monitors; what the administrator's own requests report stays between.
    const QString error = state ? state->pollError : QString();
    if (entering || error != pollError_)
        ShowStatus(error.isEmpty() ? ClaimText() : error);
    pollError_ = error;
}

QString TformPalisor::ClaimText() const
{
    return claim_.describe(dbHost->text() + QLatin1Char(':') + dbPort->text());
}

}  // namespace palisor
