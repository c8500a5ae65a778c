// The settings of the game server and the remote-console password.
#include "core/shellutils.h"
#include "ctl/commands.h"
#include "ctl/session.h"
#include "store/datapalisor.h"
#include "store/settingrules.h"

namespace palisor::ctl {

QString SettingsShow(TDataPalisor& data)
{
    LiveTable& settings = *data.tblSettings;
    if (settings.currentRow() < 0)
        throw Error(QStringLiteral("The database holds no settings row"));
    QStringList lines;
    for (const SettingRule& rule : SettingRules()) {
        const QString value = settings.text(rule.field);
        if (rule.field == QLatin1String("PASSWORD"))
            lines << QStringLiteral("password=") + (value.isEmpty() ? QStringLiteral("(not set)") : QStringLiteral("(set)"));
        else if (rule.field == QLatin1String("MSGON"))
            lines << rule.key + (IsTrueText(value) ? QStringLiteral("=on") : QStringLiteral("=off"));
        else
            lines << rule.key + QLatin1Char('=') + value;
    }
    return Lines(lines);
}

void StoreSettings(TDataPalisor& data, const SettingValues& values)
{
    LiveTable& settings = *data.tblSettings;
    settings.edit();
    for (const auto& [field, value] : values)
        settings.setValue(field, value);
    settings.post();
}

SettingValues CheckedSettings(const QStringList& assignments)
{
    SettingValues values;
    for (const QString& assignment : assignments) {
        const qsizetype equals = assignment.indexOf(QLatin1Char('='));
        if (equals < 1)
            throw UsageError(QStringLiteral("\"%1\" is not key=value").arg(assignment));
        const QString key = assignment.left(equals);
        const SettingRule* rule = FindSettingRule(key);
        if (!rule || rule->field == QLatin1String("PASSWORD"))
            throw UsageError(QStringLiteral("Unknown setting \"%1\" (address, port, scan-time, max-ping, announcements, interval; "
                                            "the password is set with palisorctl password set)")
                                 .arg(key));
        values.append({rule->field, CheckedSetting(*rule, assignment.mid(equals + 1))});
    }
    return values;
}

void SettingsSet(TDataPalisor& data, const QStringList& assignments)
{
    if (assignments.isEmpty())
        throw UsageError(QStringLiteral("settings set needs at least one key=value"));
    StoreSettings(data, CheckedSettings(assignments));
}

SettingValues CheckedPassword(const QString& password)
{
    const SettingRule* rule = FindSettingRule(QStringLiteral("password"));
    if (password.size() > rule->maxLength)
        throw Error(QStringLiteral("The password is refused: it holds %1 characters, at most %2 are kept")
                        .arg(password.size())
                        .arg(rule->maxLength));
    for (const QChar c : password) {
        if (c.unicode() > 0xFF || c.unicode() < 0x20)
            throw Error(QStringLiteral("The password is refused: it holds a control character or one beyond Latin-1"));
    }
    return {{rule->field, password}};
}

void PasswordSet(TDataPalisor& data, const QString& password) { StoreSettings(data, CheckedPassword(password)); }

}  // namespace palisor::ctl
