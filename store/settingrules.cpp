#include "store/settingrules.h"

#include "core/error.h"
#include "core/shellutils.h"

#include <QVariant>

namespace palisor {

namespace {

Error refused(const SettingRule& rule, const QString& typed, const QString& why)
{
    return Error(QStringLiteral("%1=%2 is refused: %3").arg(rule.key, typed, why));
}

bool blankOrControl(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() <= 0x20)
            return true;
    }
    return false;
}

}  // namespace

const QList<SettingRule>& SettingRules()
{
    static const QList<SettingRule> rules{
        {QStringLiteral("address"), QStringLiteral("ADDRESS"), 15, false},
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
        if (rule.field == QLatin1String("ADDRESS") && (typed.isEmpty() || blankOrControl(typed)))
            throw refused(rule, typed, QStringLiteral("give the server's address without blanks"));
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
