#include "service/eventline.h"

#include "core/shellutils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace palisor {
namespace {

// Always with the offset from UTC, which Qt leaves out for local time.
QString isoTime(const QDateTime& time) { return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs); }

QString quotedWhenNeeded(const QString& text)
{
    const bool quote = text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) {
        return IsControlCharacter(c) || c == u' ' || c == u'=' || c == u'"' || c == u'\\';
    });
    if (!quote)
        return text;
    QString inner = text;
    inner.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + EscapeControls(inner) + QLatin1Char('"');
}

// QJsonDocument leaves DEL and the C1 controls as they are; the journal takes
// a line holding them for binary data.
QString escapedC1(const QString& json)
{
    QString result;
    result.reserve(json.size());
    for (const QChar c : json) {
        if (c.unicode() >= 0x7f && c.unicode() < 0xa0)
            result += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
        else
            result += c;
    }
    return result;
}

}  // namespace

QString TextEventLine(const EventLine& line)
{
    QString text = isoTime(line.time) + QLatin1Char(' ') + line.event;
    for (const auto& [key, value] : line.fields) {
        // A number is written as it is; a text, or a number that is missing, may need quotes.
        const bool number = value.isValid() && value.typeId() != QMetaType::QString;
        const QString shown = number ? value.toString() : quotedWhenNeeded(value.toString());
        text += QLatin1Char(' ') + key + QLatin1Char('=') + shown;
    }
    return text;
}

QString JsonEventLine(const EventLine& line)
{
    // QJsonObject sorts its keys; the line is put together by hand to keep
    // them in the event's order, each value escaped by QJsonDocument.
    const auto json = [](const QJsonValue& value) {
        const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
        return QString::fromUtf8(array.mid(1, array.size() - 2));
    };
    QString text = QStringLiteral("{\"time\":") + json(isoTime(line.time)) + QStringLiteral(",\"event\":")
                   + json(line.event);
    for (const auto& [key, value] : line.fields)
        text += QLatin1Char(',') + json(key) + QLatin1Char(':') + json(QJsonValue::fromVariant(value));
    return escapedC1(text + QLatin1Char('}'));
}

}  // namespace palisor
