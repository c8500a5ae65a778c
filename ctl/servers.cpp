// The game servers of the database: adding, changing, renaming and removing
// them, and choosing the one a command works on.
#include "ctl/commands.h"
#include "ctl/session.h"
#include "store/datapalisor.h"
#include "store/monitorclaim.h"
#include "store/servers.h"

#include <algorithm>

namespace palisor::ctl {

namespace {

// A typed value refused by the rules the window keeps is a usage error:
// the command line said something palisorctl does not store.
template <typename Check>
auto typed(Check check)
{
    try {
        return check();
    } catch (const Error& e) {
        throw UsageError(e.message());
    }
}

QString names(const QList<ServerEntry>& servers)
{
    QStringList all;
    for (const ServerEntry& server : servers)
        all << server.name;
    return all.join(QStringLiteral(", "));
}

const ServerEntry* find(const QList<ServerEntry>& servers, const QString& name)
{
    const auto it = std::find_if(servers.begin(), servers.end(), [&name](const ServerEntry& s) {
        return s.name.compare(name.trimmed(), Qt::CaseInsensitive) == 0;
    });
    return it == servers.end() ? nullptr : &*it;
}

const ServerEntry& known(const QList<ServerEntry>& servers, const QString& name)
{
    const ServerEntry* server = find(servers, name);
    if (!server)
        throw UsageError(QStringLiteral("There is no server named \"%1\" (%2).").arg(name, names(servers)));
    return *server;
}

void requireFreeName(const QList<ServerEntry>& servers, const QString& name, int id)
{
    const ServerEntry* other = find(servers, name);
    if (other && other->id != id)
        throw UsageError(QStringLiteral("There is already a server named %1.").arg(other->name));
}

QString valueOf(const SettingValues& values, const char* field, const QString& otherwise)
{
    for (const auto& [name, value] : values) {
        if (name == QLatin1String(field))
            return value.toString();
    }
    return otherwise;
}

// Two entries for one game server would have it polled, and its players
// kicked, twice.
void requireFreeAddress(const QList<ServerEntry>& servers, const QString& address, const QString& port, int id)
{
    for (const ServerEntry& other : servers) {
        if (other.id != id && other.address.compare(address, Qt::CaseInsensitive) == 0 && other.port == port)
            throw UsageError(QStringLiteral("The server %1 is %2:%3 already.").arg(other.name, address, port));
    }
}

}  // namespace

void ServerAdd(TDataPalisor& data, const QString& name, const QStringList& assignments, const std::optional<QString>& password)
{
    const QString stored = typed([&] { return CheckedServerName(name); });
    SettingValues values = typed([&] { return CheckedSettings(assignments); });
    const QString address = valueOf(values, "ADDRESS", QString());
    const QString port = valueOf(values, "PORT", QString());
    if (address.isEmpty() || port.isEmpty())
        throw UsageError(QStringLiteral("server add needs the server's address=ADDRESS and port=PORT"));
    if (password)
        values += typed([&] { return CheckedPassword(*password); });
    const QList<ServerEntry> servers = ReadServers(data.database());
    requireFreeName(servers, stored, 0);
    requireFreeAddress(servers, address, port, 0);
    QSqlDatabase db = data.database();
    const int id = AddServer(db, stored, address, port);
    values.removeIf([](const auto& value) { return value.first == QLatin1String("ADDRESS") || value.first == QLatin1String("PORT"); });
    if (!values.isEmpty()) {
        data.SetServer(id);
        StoreSettings(data, values);
    }
}

void ServerSet(TDataPalisor& data, const QString& name, const QStringList& assignments)
{
    const QList<ServerEntry> servers = ReadServers(data.database());
    const ServerEntry& server = known(servers, name);
    if (assignments.isEmpty())
        throw UsageError(QStringLiteral("server set needs at least one key=value"));
    const SettingValues values = typed([&] { return CheckedSettings(assignments); });
    requireFreeAddress(servers, valueOf(values, "ADDRESS", server.address), valueOf(values, "PORT", server.port), server.id);
    data.SetServer(server.id);
    StoreSettings(data, values);
}

void ServerRename(TDataPalisor& data, const QString& oldName, const QString& newName)
{
    const QList<ServerEntry> servers = ReadServers(data.database());
    const ServerEntry& server = known(servers, oldName);
    const QString stored = typed([&] { return CheckedServerName(newName); });
    requireFreeName(servers, stored, server.id);
    QSqlDatabase db = data.database();
    RenameServer(db, server.id, stored);
}

void ServerRemove(TDataPalisor& data, const QString& name)
{
    const ServerEntry server = known(ReadServers(data.database()), name);
    QSqlDatabase db = data.database();
    RemoveServer(db, server.id);
}

QString ServerList(TDataPalisor& data, const QDateTime& nowUtc)
{
    QStringList lines;
    for (const ServerEntry& server : ReadServers(data.database())) {
        const std::optional<MonitorClaim> claim = ReadClaim(data.database(), server.id);
        const QString monitor = claim && KeepsOthersOff(*claim, nowUtc)
                                    ? QStringLiteral("%1 on %2 (process %3)").arg(claim->program, claim->host).arg(claim->pid)
                                    : QStringLiteral("-");
        lines << QStringList{server.name, server.addressPort(), server.scanTime, server.maxPing, monitor}.join(QLatin1Char('\t'));
    }
    return Lines(lines);
}

void ChooseServer(TDataPalisor& data, const QString& name, bool needed)
{
    const QList<ServerEntry> servers = ReadServers(data.database());
    if (!name.isEmpty())
        data.SetServer(known(servers, name).id);
    else if (needed && servers.size() > 1)
        throw UsageError(
            QStringLiteral("There are %1 servers (%2): name one with --server.").arg(servers.size()).arg(names(servers)));
}

}  // namespace palisor::ctl
