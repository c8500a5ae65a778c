#include "store/settingrules.h"

#include "core/error.h"
#include "core/shellutils.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVariant>

#include <algorithm>

namespace palisor {

namespace {

Error refused(const SettingRule& rule, const QString& typed, const QString& why)
{
    return Error(QStringLiteral("%1=%2 is refused: %3").arg(rule.key, typed, why));
}

// An IPv4 address in dotted form, or a host name as hosting companies hand
// them out: labels of letters, digits and hyphens, 1 to 63 characters each,
// neither beginning nor ending with a hyphen. Digits and dots alone must be
// an IPv4 address.
bool serverAddress(const QString& text)
{
    static const QRegularExpression ipv4(QStringLiteral("^[0-9.]+$"));
    const QStringList parts = text.split(QLatin1Char('.'));
    if (ipv4.match(text).hasMatch()) {
        if (parts.size() != 4)
            return false;
        return std::all_of(parts.begin(), parts.end(), [](const QString& part) {
            bool number = false;
            return !part.isEmpty() && part.size() <= 3 && part.toInt(&number) <= 255 && number;
        });
    }
    static const QRegularExpression label(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]{0,61}[A-Za-z0-9])?$"));
    return std::all_of(parts.begin(), parts.end(), [](const QString& part) { return label.match(part).hasMatch(); });
}

}  // namespace

const QList<SettingRule>& SettingRules()
{
    static const QList<SettingRule> rules{
        {QStringLiteral("address"), QStringLiteral("ADDRESS"), 253, false},
        {QStringLiteral("port"), QStringLiteral("PORT"), 5, true},
        {QStringLiteral("scan-time"), QStringLiteral("SCANTIME"), 3, true},
        {QStringLiteral("max-ping"), QStringLiteral("MAXPING"), 3, true},
        {QStringLiteral("announcements"), QStringLiteral("MSGON"), 0, false},
        {QStringLiteral("interval"), QStringLiteral("MSGTIME"), 0, true},
        {QStringLiteral("password"), QStringLiteral("PASSWORD"), 35, false},
    };
    return rules;
}

const SettingRule* FindSettingRule(const QString& key)
{
    for (const SettingRule& rule : SettingRules()) {
        if (rule.key == key)
            return &rule;
    }
    return nullptr;
}

int SettingLength(const QString& field)
{
    for (const SettingRule& rule : SettingRules()) {
        if (rule.field == field)
            return rule.maxLength;
    }
    throw Error(QStringLiteral("SETTINGS has no field %1").arg(field));
}

QString NumberBoxText(const QString& text) { return QString::number(DigitsOnly(text)); }

const QList<int>& AnnouncementIntervals()
{
    static const QList<int> minutes{1, 2, 5, 10, 15, 20};
    return minutes;
}

QVariant CheckedSetting(const SettingRule& rule, const QString& typed)
{
    if (rule.field == QLatin1String("MSGON")) {
        if (typed == QLatin1String("on") || typed == QLatin1String("off"))
            return typed == QLatin1String("on") ? QStringLiteral("True") : QStringLiteral("False");
        throw refused(rule, typed, QStringLiteral("use on or off"));
    }
    if (rule.field == QLatin1String("MSGTIME")) {
        bool number = false;
        const int minutes = typed.toInt(&number);
        if (!number || !AnnouncementIntervals().contains(minutes))
            throw refused(rule, typed, QStringLiteral("the interval is 1, 2, 5, 10, 15 or 20 minutes"));
        return minutes;
    }
    if (typed.size() > rule.maxLength)
        throw refused(rule, typed, QStringLiteral("at most %1 characters").arg(rule.maxLength));
    for (const QChar c : typed) {
        if (c.unicode() > 0xFF)
            throw refused(rule, typed, QStringLiteral("only Latin-1 characters are kept"));
    }
    if (!rule.digitsOnly) {
        if (rule.field == QLatin1String("ADDRESS") && !serverAddress(typed))
            throw refused(rule, typed, QStringLiteral("give the server's IPv4 address or host name"));
        return typed;
    }
    if (typed.isEmpty() || NumberBoxText(typed) != typed)
        throw refused(rule, typed, QStringLiteral("digits only, without leading zeros"));
    const int value = typed.toInt();
    if (rule.field == QLatin1String("PORT") && (value < 1 || value > 65535))
        throw refused(rule, typed, QStringLiteral("a UDP port is 1 to 65535"));
    if (rule.field == QLatin1String("SCANTIME") && value < 1)
        throw refused(rule, typed, QStringLiteral("the scan time is 1 to 999 seconds"));
    return typed;
}

}  // namespace palisor
