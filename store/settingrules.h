#pragma once

#include <QList>
#include <QString>

namespace palisor {

// What the settings of the game server (the single row of SETTINGS) may
// hold: the main window's boxes, the announcements editor and palisorctl
// keep to one rule.
struct SettingRule {
    QString key;        // as palisorctl names it: "port", "scan-time", ...
    QString field;      // the column of SETTINGS
    int maxLength = 0;  // what the box takes; 0 for a choice
    bool digitsOnly = false;
};

const QList<SettingRule>& SettingRules();
// The rule of a key; null for an unknown one.
const SettingRule* FindSettingRule(const QString& key);
// The length the window's box for a field takes.
int SettingLength(const QString& field);

// What a digits-only box shows for the typed text: its digits as a number
// without leading zeros, "0" when there are none ("12a3" -> "123").
QString NumberBoxText(const QString& text);

// The value to store for a typed setting, or palisor::Error naming the key
// and the value when the box would not hold it as typed or the game server
// could not use it (a port beyond 65535, a scan time of 0, an interval the
// announcements editor does not offer). "announcements" takes on or off.
QVariant CheckedSetting(const SettingRule& rule, const QString& typed);

// The intervals between announcements the editor offers, in minutes.
const QList<int>& AnnouncementIntervals();

}  // namespace palisor
