#include "service/eventline.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

namespace palisor {
namespace {

// Always with the offset from UTC, which Qt leaves out for local time.
QString isoTime(const QDateTime& time) { return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs); }

bool isControl(QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f || (c.unicode() >= 0x80 && c.unicode() < 0xa0); }

// Escapes control characters, and with `quotes` the quote and the backslash.
QString escaped(const QString& text, bool quotes)
{
    QString result;
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\n': result += QStringLiteral("\\n"); break;
        case u'\r': result += QStringLiteral("\\r"); break;
        case u'\t': result += QStringLiteral("\\t"); break;
        default:
            if (isControl(c))
                result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else if (quotes && (c == u'"' || c == u'\\'))
                result += QLatin1Char('\\') + c;
            else
                result += c;
        }
    }
    return result;
}

QString quotedWhenNeeded(const QString& text)
{
    const bool quote = text.isEmpty() || std::any_of(text.begin(), text.end(), [](QChar c) {
        return isControl(c) || c == u' ' || c == u'=' || c == u'"' || c == u'\\';
    });
    return quote ? QLatin1Char('"') + escaped(text, true) + QLatin1Char('"') : text;
}

}  // namespace

QString EscapeControls(const QString& text) { return escaped(text, false); }

QString TextEventLine(const EventLine& line)
{
    QString text = isoTime(line.time) + QLatin1Char(' ') + line.event;
    for (const auto& [key, value] : line.fields) {
        const QString shown = value.typeId() == QMetaType::QString ? quotedWhenNeeded(value.toString())
                                                                     : value.toString();
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
    return text + QLatin1Char('}');
}

}  // namespace palisor
