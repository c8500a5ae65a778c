#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <utility>
#include <optional>

namespace palisor {

class TDataPalisor;

namespace ctl {

// Each command works on an open database and returns what it prints on
// standard output; it throws palisor::Error (exit status 1) or UsageError
// (exit status 2) and then has changed nothing.

// The settings as key=value lines, the password only said to be set or not.
QString SettingsShow(TDataPalisor& data);
// Every "key=value" checked first, then all stored in one change.
void SettingsSet(TDataPalisor& data, const QStringList& assignments);
void PasswordSet(TDataPalisor& data, const QString& password);
// Settings fields and the values to store in them.
using SettingValues = QList<std::pair<QString, QVariant>>;
// The values of "key=value" settings (the password aside), checked like
// the window's boxes.
SettingValues CheckedSettings(const QStringList& assignments);
SettingValues CheckedPassword(const QString& password);
// Stores them in the module's server's settings row in one change.
void StoreSettings(TDataPalisor& data, const SettingValues& values);

// The servers of the database. Each refuses a bad or unknown name, a
// duplicate name or a setting the window would refuse with UsageError,
// having changed nothing.
void ServerAdd(TDataPalisor& data, const QString& name, const QStringList& assignments, const std::optional<QString>& password);
void ServerSet(TDataPalisor& data, const QString& name, const QStringList& assignments);
void ServerRename(TDataPalisor& data, const QString& oldName, const QString& newName);
// Refused (palisor::Error) for the only server and one a program monitors.
void ServerRemove(TDataPalisor& data, const QString& name);
// Name, address:port, scan time, max ping and who monitors it ("-" for
// nobody), one server a line, in the order they were added.
QString ServerList(TDataPalisor& data, const QDateTime& nowUtc);
// Has the module work for the server named (any letter case); without a
// name, refuses a database of several servers when the command needs one.
void ChooseServer(TDataPalisor& data, const QString& name, bool needed);

// The lists kept as names: "immune" and "illegal".
QString NameList(TDataPalisor& data, const QString& list);
void NameAdd(TDataPalisor& data, const QString& list, const QString& name);
void NameRemove(TDataPalisor& data, const QString& list, const QString& name);

QString AliasList(TDataPalisor& data);
// A map that has an alias gets the new one.
void AliasAdd(TDataPalisor& data, const QString& mapName, const QString& alias);
void AliasRemove(TDataPalisor& data, const QString& mapName);

// Announcements are numbered from 1 in the order they are sent.
QString AnnounceList(TDataPalisor& data);
void AnnounceAdd(TDataPalisor& data, const QString& text);
void AnnounceRemove(TDataPalisor& data, int position);
void AnnounceMove(TDataPalisor& data, int from, int to);

// Name, address and when last seen, oldest first; with a text, only the
// players whose name or address holds it (letter case ignored).
QString RecentList(TDataPalisor& data, const QString& grep, const std::optional<QDateTime>& since);

// The banned list as "name<TAB>address" lines.
QString BanList(TDataPalisor& data, const QString& grep);
void BanAdd(TDataPalisor& data, const QString& name, const QString& address, const QString& reason);
// Removes the bans with that name and/or address; none is an error.
int BanRemove(TDataPalisor& data, const QString& name, const QString& address);
// Kinds by the file's contents: "names", "addresses" or "both".
int BanKind(const QString& kind);
// Every line checked before the first ban; a file with bad lines bans nothing.
int BanImport(TDataPalisor& data, const QString& fileName, int kind);
QString BanExport(TDataPalisor& data, int kind);

// The penalty log, oldest first, in the format "text", "json" or "csv".
QString History(TDataPalisor& data, const QString& kind, const std::optional<QDateTime>& since, const QString& format);

// The settings, who monitors the game server (or nobody, or a stale claim)
// and what the monitor's last poll stored.
QString Status(TDataPalisor& data, const QDateTime& nowUtc);

// A monitoring-system plugin's verdict on the last poll: its one line (text,
// then "|" and the performance data) and its exit status.
struct CheckResult {
    enum Code { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };
    Code code = Unknown;
    QString line;
};
// Critical when nothing was polled within maxAge seconds (by default three
// scan times plus 30) or the last poll failed; Warning when the median ping
// is above warningPing.
CheckResult Check(TDataPalisor& data, const QDateTime& nowUtc, std::optional<int> maxAge, std::optional<int> warningPing);
// Every server judged as above, the worst verdict the whole's: with one
// server its line alone, else a summary line, then one line per server.
CheckResult CheckEvery(TDataPalisor& data, const QDateTime& nowUtc, std::optional<int> maxAge, std::optional<int> warningPing);

// "7d", "12h", "30m", "90s" back from now, or a date or date and time
// (ISO 8601, local time).
QDateTime SinceTime(const QString& text, const QDateTime& now);

}  // namespace ctl
}  // namespace palisor
