#include "monitor/announcements.h"

#include "core/shellutils.h"
#include "core/timing.h"
#include "store/datapalisor.h"

#include <QLocale>
#include <algorithm>
#include <limits>

namespace palisor {
namespace {

// The value of the first line whose key equals the token, letter case
// ignored; empty when there is none.
QString lookUp(const QStringList& variables, const QString& token)
{
    const QString key = token.toLower();
    for (const QString& line : variables) {
        const int equals = line.indexOf(QLatin1Char('='));
        if (equals >= 0 && QString::compare(line.left(equals), key, Qt::CaseInsensitive) == 0)
            return line.mid(equals + 1);
    }
    return {};
}

QString withoutFirst(QString text, const QString& piece)
{
    const int at = text.indexOf(piece);
    if (at >= 0)
        text.remove(at, piece.size());
    return text;
}

// Each replacement of a value without marks uses up two marks of the text,
// so a run of restarts longer than this can only come from values that keep
// bringing marks back. Those values come from the server (its name, maps),
// so they buy no further rounds: a server name full of "$servername$" would
// otherwise make every round longer and the rounds many.
int restartBudget(const QString& text, const QString& mark)
{
    return text.count(mark) / 2 + 1;
}

}  // namespace

QString SubstituteVariables(const QString& text, const QStringList& variables, const QString& mark)
{
    if (mark.isEmpty())
        return text;
    int restarts = restartBudget(text, mark);
    QString current = text;
    for (;;) {
        const int first = current.indexOf(mark);
        if (first < 0)
            return current;
        const int second = current.indexOf(mark, first + mark.size());
        const QString token =
            second < 0 ? mark : current.mid(first, second + mark.size() - first);

        QString result = current;
        if (token.size() > mark.size()) {
            const QString value = lookUp(variables, token);
            // The token starts at the first mark, so its first occurrence is here.
            if (!value.isEmpty())
                result = current.left(first) + value + current.mid(first + token.size());
        }
        if (!withoutFirst(result, token).contains(mark))
            return result;
        // Starting over on an unchanged text would find the same token forever.
        if (result == current || --restarts <= 0)
            return result;
        current = result;
    }
}

QString AnnouncementTime(const QDateTime& moment)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(moment.time(), QStringLiteral("h:mm AP"));
}

void UpdateVariables(TDataPalisor& data, const VariableBoxes& boxes)
{
    const auto set = [&data](const char* name, const QString& value) {
        // An empty value would drop the line, and the replacement treats an
        // empty value as an unknown variable.
        data.setVariable(data.VariableMark + QLatin1String(name) + data.VariableMark,
                         value.isEmpty() ? QStringLiteral(" ") : value);
    };
    set("serverip", boxes.serverIp);
    set("servername", boxes.serverName);
    set("time", AnnouncementTime(now()));
    set("gametype", boxes.gameType);
    set("crntmap", boxes.currentMap);
    set("nextmap", boxes.nextMap);
    set("banned", QString::number(data.CountRows(data.tblBanned)));
    set("recent", QString::number(data.CountRows(data.tblRecent)));
}

AnnouncementScheduler::AnnouncementScheduler(TDataPalisor& data, SendFunction send)
    : data_(data), send_(std::move(send))
{
}

AnnouncementScheduler::TimerSetting AnnouncementScheduler::StartAnnouncements()
{
    LiveTable& settings = *data_.tblSettings;
    if (settings.currentRow() < 0 || !IsTrueText(settings.text(QStringLiteral("MSGON"))))
        return {};
    NextAnnouncement = 1;
    const qint64 minutes = settings.value(QStringLiteral("MSGTIME")).toLongLong();
    if (minutes <= 0)
        return {};
    // QTimer counts in int milliseconds, which holds about 24 days.
    constexpr qint64 longestMinutes = std::numeric_limits<int>::max() / 60000;
    return {true, static_cast<int>(std::min(minutes, longestMinutes) * 60000)};
}

void AnnouncementScheduler::MsgTimerTimer()
{
    // The rotation runs over the announcements for every server and those
    // for this server alone, in the table's order.
    LiveTable& messages = *data_.tblMessages;
    QList<int> rows;
    for (int row = 0; row < messages.rowCount(); ++row) {
        const QVariant server = messages.value(row, QStringLiteral("SERVER_ID"));
        if (server.isNull() || server.toInt() == data_.ServerId())
            rows << row;
    }
    const int remembered = messages.currentRow();
    if (NextAnnouncement >= 1 && NextAnnouncement <= rows.size()) {
        messages.setCurrentRow(rows[NextAnnouncement - 1]);
        if (!messages.text(QStringLiteral("SEQ")).isEmpty()) {
            const QString announcement = messages.text(QStringLiteral("ANNOUNCEMENT"));
            send_(QStringLiteral("say ") + SubstituteVariables(announcement, data_.Variables, data_.VariableMark));
        }
    }
    if (rows.size() == NextAnnouncement)
        NextAnnouncement = 1;
    else
        ++NextAnnouncement;
    messages.setCurrentRow(remembered);
}

}  // namespace palisor
