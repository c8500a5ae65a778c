// The penalty log for reading, for people and for other programs.
#include "ctl/commands.h"
#include "ctl/session.h"
#include "store/datapalisor.h"
#include "store/history.h"
#include "store/servers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <algorithm>

namespace palisor::ctl {

namespace {

const QStringList Columns{QStringLiteral("time"), QStringLiteral("kind"),    QStringLiteral("clientid"),
                          QStringLiteral("name"), QStringLiteral("address"), QStringLiteral("reason"),
                          QStringLiteral("source"), QStringLiteral("server")};

// The server column is only worth its width where there are several.
QStringList fields(const PenaltyEvent& e, bool servers)
{
    QStringList values{e.occurred.toString(Qt::ISODate), e.kind.toLower(), e.clientId, e.name, e.address, e.reason, e.source};
    if (servers)
        values << e.server;
    return values;
}

// One line per event however a name looks: control characters shown as \xNN.
QString textField(const QString& text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    return shown;
}

QString format(const QList<PenaltyEvent>& events, const QString& how, bool servers)
{
    const QStringList columns = Columns.mid(0, servers ? Columns.size() : Columns.size() - 1);
    if (how == QLatin1String("json")) {
        QJsonArray rows;
        for (const PenaltyEvent& e : events) {
            QJsonObject row;
            const QStringList values = fields(e, servers);
            for (int c = 0; c < columns.size(); ++c)
                row.insert(columns[c], values[c].isEmpty() && c > 1 ? QJsonValue() : QJsonValue(values[c]));
            rows.append(row);
        }
        return QString::fromUtf8(QJsonDocument(rows).toJson(QJsonDocument::Indented));
    }
    QString text;
    if (how == QLatin1String("csv")) {
        text = columns.join(QLatin1Char(',')) + QStringLiteral("\r\n");
        for (const PenaltyEvent& e : events) {
            QStringList row;
            for (const QString& value : fields(e, servers))
                row << CsvField(value);
            text += row.join(QLatin1Char(',')) + QStringLiteral("\r\n");
        }
        return text;
    }
    for (const PenaltyEvent& e : events) {
        QStringList row;
        for (const QString& value : fields(e, servers))
            row << (value.isEmpty() ? QStringLiteral("-") : textField(value));
        text += row.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return text;
}

}  // namespace

QString History(TDataPalisor& data, const QString& kind, const std::optional<QDateTime>& since, const QString& how)
{
    static const QStringList kinds{QStringLiteral("kick"), QStringLiteral("ban"), QStringLiteral("refusal"),
                                   QStringLiteral("unban")};
    static const QStringList formats{QStringLiteral("text"), QStringLiteral("json"), QStringLiteral("csv")};
    if (!kind.isEmpty() && !kinds.contains(kind))
        throw UsageError(QStringLiteral("Unknown kind \"%1\" (kick, ban, refusal or unban)").arg(kind));
    if (!formats.contains(how))
        throw UsageError(QStringLiteral("Unknown format \"%1\" (text, json or csv)").arg(how));
    if (!data.HasHistory())
        throw Error(QStringLiteral("This database keeps no penalty log"));
    QList<PenaltyEvent> events = ReadEvents(data.database(), QString(), kind.toUpper());
    if (since)
        events.erase(std::remove_if(events.begin(), events.end(), [&since](const PenaltyEvent& e) { return e.occurred < *since; }),
                     events.end());
    std::reverse(events.begin(), events.end());
    return format(events, how, ReadServers(data.database()).size() > 1);
}

QDateTime SinceTime(const QString& text, const QDateTime& now)
{
    static const QRegularExpression span(QStringLiteral("^(\\d{1,6})([smhd])$"));
    const QRegularExpressionMatch match = span.match(text);
    if (match.hasMatch()) {
        const qint64 count = match.captured(1).toLongLong();
        static const QHash<QString, qint64> seconds{{QStringLiteral("s"), 1}, {QStringLiteral("m"), 60},
                                                    {QStringLiteral("h"), 3600}, {QStringLiteral("d"), 86400}};
        return now.addSecs(-count * seconds.value(match.captured(2)));
    }
    QDateTime at = QDateTime::fromString(text, Qt::ISODate);
    if (!at.isValid())
        at = QDateTime(QDate::fromString(text, Qt::ISODate), QTime(0, 0));
    if (!at.isValid())
        throw UsageError(QStringLiteral("\"%1\" is no time: give 7d, 12h, 30m, 90s or a date such as 2026-12-01").arg(text));
    return at;
}

}  // namespace palisor::ctl
