// Who monitors the game server and what its last poll showed: the status
// for an administrator and the check for a monitoring system. Both only read
// what the monitor stored; neither talks to the game server.
#include "core/shellutils.h"
#include "ctl/commands.h"
#include "ctl/session.h"
#include "store/datapalisor.h"
#include "store/monitorclaim.h"
#include "store/servers.h"

#include <algorithm>

namespace palisor::ctl {

namespace {

const QString kStamp = QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'");

QString ago(const QDateTime& then, const QDateTime& nowUtc)
{
    return QStringLiteral("%1 s ago").arg(qMax<qint64>(0, then.secsTo(nowUtc)));
}

QString address(TDataPalisor& data)
{
    const LiveTable& settings = *data.tblSettings;
    return settings.text(QStringLiteral("ADDRESS")).trimmed() + QLatin1Char(':')
           + settings.text(QStringLiteral("PORT")).trimmed();
}

// A text from the game server on the plugin's one line: no control
// characters, and no "|", which would begin the performance data.
QString pluginText(const QString& text)
{
    QString shown = EscapeControls(text);
    shown.replace(QLatin1Char('|'), QLatin1Char('!'));
    return shown;
}

}  // namespace

QString Status(TDataPalisor& data, const QDateTime& nowUtc)
{
    QString out = SettingsShow(data);
    QStringList lines;
    const std::optional<MonitorClaim> claim = ReadClaim(data.database(), data.ServerId());
    if (!claim) {
        lines << QStringLiteral("monitored-by=nobody");
    } else {
        lines << QStringLiteral("monitored-by=%1 on %2 (process %3) since %4%5")
                     .arg(claim->program, claim->host)
                     .arg(claim->pid)
                     .arg(claim->started.toString(kStamp),
                          claim->staleAt(nowUtc) ? QStringLiteral(", stale: last renewed ") + ago(claim->renewed, nowUtc)
                                                 : QString());
    }
    const std::optional<ServerState> state = ReadServerState(data.database(), data.ServerId());
    if (!state || !state->polled.isValid()) {
        lines << QStringLiteral("last-poll=never");
        return out + Lines(lines);
    }
    lines << QStringLiteral("last-poll=%1 (%2)").arg(state->polled.toString(kStamp), ago(state->polled, nowUtc));
    if (!state->pollError.isEmpty())
        lines << QStringLiteral("poll-error=") + EscapeControls(state->pollError);
    lines << QStringLiteral("hostname=") + EscapeControls(state->hostName)
          << QStringLiteral("gametype=") + EscapeControls(state->gameType)
          << QStringLiteral("players=%1/%2").arg(state->players).arg(state->maxPlayers)
          << QStringLiteral("map=") + EscapeControls(state->curMap)
          << QStringLiteral("next-map=") + EscapeControls(state->nextMap)
          << QStringLiteral("ping-median=")
                 + (state->pingMedian < 0 ? QStringLiteral("none") : QStringLiteral("%1 ms").arg(state->pingMedian));
    return out + Lines(lines);
}

CheckResult Check(TDataPalisor& data, const QDateTime& nowUtc, std::optional<int> maxAge, std::optional<int> warningPing)
{
    const int scanTime = data.tblSettings->text(QStringLiteral("SCANTIME")).trimmed().toInt();
    const int allowed = maxAge.value_or(3 * scanTime + 30);
    const std::optional<ServerState> state = ReadServerState(data.database(), data.ServerId());
    if (!state || !state->polled.isValid())
        return {CheckResult::Critical,
                QStringLiteral("PALISOR CRITICAL - %1 has never been polled").arg(address(data))};

    const qint64 age = state->polled.secsTo(nowUtc);
    const QString picture = QStringLiteral("%1/%2 players on %3, polled %4")
                                .arg(state->players)
                                .arg(state->maxPlayers)
                                .arg(pluginText(state->curMap), ago(state->polled, nowUtc));
    QString perf = QStringLiteral(" | players=%1;;;0;%2").arg(state->players).arg(state->maxPlayers);
    if (state->pingMedian >= 0) {
        perf += QStringLiteral(" ping_median=%1ms").arg(state->pingMedian);
        if (warningPing)
            perf += QStringLiteral(";%1").arg(*warningPing);
    }
    if (age > allowed) {
        const std::optional<MonitorClaim> claim = ReadClaim(data.database(), data.ServerId());
        return {CheckResult::Critical,
                QStringLiteral("PALISOR CRITICAL - no poll of %1 for %2 s (max-age %3 s), %4")
                        .arg(address(data))
                        .arg(age)
                        .arg(allowed)
                        .arg(claim ? QStringLiteral("monitored by %1 on %2").arg(claim->program, claim->host)
                                   : QStringLiteral("not monitored"))
                    + perf};
    }
    if (!state->pollError.isEmpty())
        return {CheckResult::Critical, QStringLiteral("PALISOR CRITICAL - the last poll of %1 failed (%2): %3")
                                               .arg(address(data), ago(state->polled, nowUtc), pluginText(state->pollError))
                                           + perf};
    if (warningPing && state->pingMedian > *warningPing)
        return {CheckResult::Warning, QStringLiteral("PALISOR WARNING - median ping %1 ms above %2 ms, %3")
                                              .arg(state->pingMedian)
                                              .arg(*warningPing)
                                              .arg(picture)
                                          + perf};
    return {CheckResult::Ok, QStringLiteral("PALISOR OK - ") + picture + perf};
}

CheckResult CheckEvery(TDataPalisor& data, const QDateTime& nowUtc, std::optional<int> maxAge, std::optional<int> warningPing)
{
    const QList<ServerEntry> servers = ReadServers(data.database());
    if (servers.size() <= 1)
        return Check(data, nowUtc, maxAge, warningPing);
    static const QStringList words{QStringLiteral("OK"), QStringLiteral("WARNING"), QStringLiteral("CRITICAL"),
                                   QStringLiteral("UNKNOWN")};
    CheckResult whole{CheckResult::Ok, QString()};
    QStringList verdicts, details;
    int players = 0, maxPlayers = 0;
    for (const ServerEntry& server : servers) {
        data.SetServer(server.id);
        const CheckResult one = Check(data, nowUtc, maxAge, warningPing);
        whole.code = std::max(whole.code, one.code);
        const QString name = pluginText(server.name);
        verdicts << name + QLatin1Char(' ') + words[one.code];
        // Its line without the product's name and the performance data.
        details << name + QStringLiteral(": ") + one.line.section(QStringLiteral(" | "), 0, 0).mid(8);
        if (const std::optional<ServerState> state = ReadServerState(data.database(), server.id); state && state->polled.isValid()) {
            players += state->players;
            maxPlayers += state->maxPlayers;
        }
    }
    whole.line = QStringLiteral("PALISOR %1 - %2 servers: %3 | players=%4;;;0;%5\n")
                     .arg(words[whole.code])
                     .arg(servers.size())
                     .arg(verdicts.join(QStringLiteral(", ")))
                     .arg(players)
                     .arg(maxPlayers)
                 + details.join(QLatin1Char('\n'));
    return whole;
}

}  // namespace palisor::ctl
