#include "sim/console.h"

#include <algorithm>
#include <climits>

namespace palisor::sim {

namespace {

// vstr chains deeper than this are taken to be a loop (nextmap naming itself).
constexpr int maxScriptDepth = 16;

unsigned char byteAt(const Bytes& text, qsizetype i)
{
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
}

// A name without its ^N colour codes, as the engine also accepts it.
Bytes withoutColours(const Bytes& name)
{
    Bytes result;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name[i] == '^' && i + 1 < name.size() && name[i + 1] != '^') {
            ++i;
            continue;
        }
        result.append(name[i]);
    }
    return result;
}

Bytes rightAligned(qint64 n, int width) { return Bytes::number(n).rightJustified(width, ' '); }

}  // namespace

QList<Bytes> tokenize(const Bytes& line)
{
    QList<Bytes> words;
    const qsizetype n = line.size();
    qsizetype i = 0;
    for (;;) {
        for (;;) {
            while (i < n && byteAt(line, i) <= ' ')
                ++i;
            if (i >= n)
                return words;
            if (line[i] == '/' && byteAt(line, i + 1) == '/')
                return words;
            if (line[i] == '/' && byteAt(line, i + 1) == '*') {
                while (i < n && !(line[i] == '*' && byteAt(line, i + 1) == '/'))
                    ++i;
                if (i >= n)
                    return words;
                i += 2;
                continue;
            }
            break;
        }
        if (line[i] == '"') {
            const qsizetype start = ++i;
            while (i < n && line[i] != '"')
                ++i;
            words.append(line.mid(start, i - start));
            if (i >= n)
                return words;
            ++i;
            continue;
        }
        const qsizetype start = i;
        while (i < n && byteAt(line, i) > ' ') {
            if (line[i] == '"')
                break;
            if (line[i] == '/' && (byteAt(line, i + 1) == '/' || byteAt(line, i + 1) == '*'))
                break;
            ++i;
        }
        words.append(line.mid(start, i - start));
        if (i >= n)
            return words;
    }
}

Bytes joinArgs(const QList<Bytes>& words, int first)
{
    Bytes result;
    for (qsizetype i = first; i < words.size(); ++i) {
        if (i > first)
            result.append(' ');
        result.append(words[i]);
    }
    return result;
}

QList<Bytes> splitCommands(const Bytes& script)
{
    QList<Bytes> commands;
    int quotes = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= script.size(); ++i) {
        const char c = i < script.size() ? script[i] : '\n';
        if (c == '"')
            ++quotes;
        if ((c == ';' && quotes % 2 == 0) || c == '\n' || c == '\r') {
            commands.append(script.mid(start, i - start));
            start = i + 1;
        }
    }
    return commands;
}

Bytes formatStatus(const Bytes& mapName, const QList<SimPlayer>& players)
{
    Bytes out = "map: " + mapName + "\n"
                "num score ping name            lastmsg address               qport rate\n"
                "--- ----- ---- --------------- ------- --------------------- ----- -----\n";
    for (const SimPlayer& p : players) {
        out += rightAligned(p.slot, 3) + ' ';
        out += rightAligned(p.score, 5) + ' ';
        if (p.state == ClientState::Connecting)
            out += "CNCT ";
        else if (p.state == ClientState::Zombie)
            out += "ZMBI ";
        else
            out += rightAligned(std::min(p.ping, 9999), 4) + ' ';
        // Names fill 16 columns and are never cut; a longer one pushes the
        // rest of the line to the right.
        out += p.name + Bytes(std::max<qsizetype>(0, 16 - p.name.size()), ' ');
        out += rightAligned(p.lastmsg, 7) + ' ';
        const Bytes address = p.netAddress();
        out += address + Bytes(std::max<qsizetype>(0, 22 - address.size()), ' ');
        out += rightAligned(p.qport, 5);
        out += ' ' + rightAligned(p.rate, 5) + '\n';
    }
    return out + '\n';
}

Bytes formatInfoLine(const Bytes& key, const Bytes& value, const Bytes& separator)
{
    return key.leftJustified(20, ' ') + separator + value + '\n';
}

Bytes Console::execute(const Bytes& line)
{
    const QList<Bytes> words = tokenize(line);
    if (words.isEmpty())
        return {};
    // The engine compares names and commands folding only the letters A to Z,
    // as QByteArray::toLower does.
    const Bytes command = words[0].toLower();
    if (command == "status")
        return status();
    if (command == "serverinfo")
        return serverInfo();
    if (command == "set" || command == "seta")
        return set(words, false);
    if (command == "sets")
        return set(words, true);
    if (command == "say")
        return say(words);
    if (command == "clientkick")
        return clientKick(words);
    if (command == "dumpuser")
        return dumpUser(words);
    if (command == "vstr")
        return vstr(words);
    if (command == "map")
        return map(words);
    return variableCommand(words);
}

Bytes Console::executeScript(const Bytes& script)
{
    if (depth_ >= maxScriptDepth)
        return {};
    ++depth_;
    Bytes out;
    for (const Bytes& command : splitCommands(script))
        out += execute(command);
    --depth_;
    return out;
}

Bytes Console::status()
{
    state_.countStatus();
    QList<SimPlayer> shown;
    for (const auto& [slot, player] : state_.players()) {
        SimPlayer p = player;
        if (p.state == ClientState::Active && !p.isLocal())
            p.ping = state_.jitteredPing(p.ping);
        shown.append(p);
    }
    return formatStatus(state_.mapName(), shown);
}

Bytes Console::serverInfo() const
{
    Bytes out = "Server info settings:\n";
    for (const Variable& v : state_.serverInfo())
        out += formatInfoLine(v.name, v.value, ": ");
    return out;
}

Bytes Console::set(const QList<Bytes>& words, bool serverinfo)
{
    if (words.size() < 3)
        return "usage: set <variable> <value>\n";
    const Bytes& name = words[1];
    if (name.contains('\\') || name.contains(';') || name.contains('"'))
        return "invalid cvar name string: " + name + "\n";
    state_.setVariable(name, joinArgs(words, 2), serverinfo);
    return {};
}

Bytes Console::say(const QList<Bytes>& words) const
{
    if (words.size() < 2)
        return {};
    return "console: " + joinArgs(words, 1) + "\n";
}

Bytes Console::clientKick(const QList<Bytes>& words)
{
    if (words.size() != 2)
        return "Usage: kicknum <client number>\n";
    const Bytes& text = words[1];
    for (char c : text)
        if (c < '0' || c > '9')
            return "Bad slot number: " + text + "\n";
    const qlonglong number = text.isEmpty() ? 0 : text.left(18).toLongLong();
    const int slot = static_cast<int>(std::min<qlonglong>(number, INT_MAX));
    if (slot >= state_.maxClients())
        return "Bad client slot: " + Bytes::number(slot) + "\n";
    const SimPlayer* p = state_.player(slot);
    if (!p)
        return "Client " + Bytes::number(slot) + " is not active\n";
    // The host's own client cannot be kicked; the engine tells the players, not the console.
    if (p->address == "loopback")
        return {};
    state_.leave(slot);
    return {};
}

Bytes Console::dumpUser(const QList<Bytes>& words) const
{
    if (words.size() != 2)
        return "Usage: info <userid>\n";
    const Bytes wanted = words[1].toLower();
    for (const auto& [slot, p] : state_.players()) {
        if (p.name.toLower() != wanted && withoutColours(p.name).toLower() != wanted)
            continue;
        Bytes out = "userinfo\n--------\n";
        out += formatInfoLine("name", p.name);
        out += formatInfoLine("rate", Bytes::number(p.rate));
        out += formatInfoLine("snaps", "20");
        for (const auto& [key, value] : p.userinfo)
            out += formatInfoLine(key, value);
        if (p.address != "bot")
            out += formatInfoLine("ip", p.netAddress());
        return out;
    }
    return "Player " + words[1] + " is not on the server\n";
}

Bytes Console::vstr(const QList<Bytes>& words)
{
    if (words.size() != 2)
        return "vstr <variablename> : execute a variable command\n";
    const Variable* v = state_.variable(words[1]);
    return v ? executeScript(v->value) : Bytes();
}

Bytes Console::map(const QList<Bytes>& words)
{
    if (words.size() >= 2 && !words[1].isEmpty())
        state_.setVariable("mapname", words[1], true);
    return {};
}

Bytes Console::variableCommand(const QList<Bytes>& words)
{
    const Variable* v = state_.variable(words[0]);
    if (!v)
        return {};
    if (words.size() == 1)
        return "\"" + v->name + "\" is:\"" + v->value + "\" default:\"" + v->resetValue + "\"\n";
    state_.setVariable(v->name, words[1]);
    return {};
}

}  // namespace palisor::sim
