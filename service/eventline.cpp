#include "service/eventline.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

namespace palisor {
namespace {

QString isoTime(const QDateTime& time) { return time.toString(Qt::ISODateWithMs); }

QString quotedWhenNeeded(const QString& text)
{
    QString escaped;
    bool quote = text.isEmpty();
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"': escaped += QStringLiteral("\\\""); quote = true; break;
        case u'\\': escaped += QStringLiteral("\\\\"); quote = true; break;
        case u'\n': escaped += QStringLiteral("\\n"); quote = true; break;
        case u'\r': escaped += QStringLiteral("\\r"); quote = true; break;
        case u'\t': escaped += QStringLiteral("\\t"); quote = true; break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7f || (c.unicode() >= 0x80 && c.unicode() < 0xa0)) {
                escaped += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
                quote = true;
            } else {
                quote = quote || c == u' ' || c == u'=';
                escaped += c;
            }
        }
    }
    return quote ? QLatin1Char('"') + escaped + QLatin1Char('"') : escaped;
}

}  // namespace

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
