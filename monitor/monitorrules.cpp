#include "monitor/monitorrules.h"

#include "core/error.h"

namespace palisor {

int StrikeLimit(int scanTimeSeconds)
{
    if (scanTimeSeconds < 1)
        throw Error(QStringLiteral("Scan Time must be at least 1 second"));
    constexpr int kWindow = 120;
    if (scanTimeSeconds >= kWindow)
        return 1;
    const int quotient = kWindow / scanTimeSeconds;
    const int twiceRest = 2 * (kWindow % scanTimeSeconds);
    if (twiceRest > scanTimeSeconds || (twiceRest == scanTimeSeconds && quotient % 2 == 1))
        return quotient + 1;
    return quotient;
}

qsizetype HighPingStrikes::find(const QString& key) const
{
    for (qsizetype i = 0; i < entries_.size(); ++i)
        if (entries_[i].first.compare(key, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

bool HighPingStrikes::Check(const QString& key, qint64 ping, qint64 maxPing, int strikeLimit)
{
    qsizetype at = find(key);
    if (ping <= maxPing) {
        if (at >= 0)
            entries_.removeAt(at);
        return false;
    }
    if (at < 0) {
        entries_.append({key, 0});
        at = entries_.size() - 1;
    }
    if (++entries_[at].second >= strikeLimit) {
        entries_.removeAt(at);
        return true;
    }
    return false;
}

bool StopsMonitor(const QString& message)
{
    const QString lower = message.toLower();
    return lower.contains(QLatin1String("bad rconpassword")) || lower.contains(QLatin1String("socket error"))
           || lower.contains(QLatin1String("no rconpassword set on the server"))
           || lower.contains(QLatin1String("the port must be 1-65535"));
}

bool NeedsReconnect(const QString& message)
{
    return message.toLower().contains(QLatin1String("closed dataset"));
}

}  // namespace palisor
