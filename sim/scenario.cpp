#include "sim/scenario.h"

#include "core/error.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <cmath>
#include <limits>

namespace palisor::sim {

Bytes SimPlayer::netAddress() const
{
    if (isLocal())
        return address;
    return address + ':' + Bytes::number(port);
}

namespace {

// Reads one JSON value and reports problems with the path that leads to it
// ("players[2].ping"), so a typo in a long scenario is found at once.
class Reader {
public:
    explicit Reader(QString origin) : origin_(std::move(origin)) {}

    [[noreturn]] void fail(const QString& path, const QString& problem) const
    {
        throw Error(origin_ + ": " + path + ": " + problem);
    }

    void onlyKeys(const QJsonObject& o, const QString& path, const QSet<QString>& allowed) const
    {
        for (auto it = o.begin(); it != o.end(); ++it)
            if (!allowed.contains(it.key()))
                fail(path, "unknown key \"" + it.key() + "\"");
    }

    QJsonObject object(const QJsonValue& v, const QString& path) const
    {
        if (!v.isObject())
            fail(path, "expected an object");
        return v.toObject();
    }

    int integer(const QJsonValue& v, const QString& path, int low, int high) const
    {
        const double d = v.toDouble(std::numeric_limits<double>::quiet_NaN());
        if (!v.isDouble() || std::floor(d) != d || d < low || d > high)
            fail(path, QStringLiteral("expected a whole number from %1 to %2").arg(low).arg(high));
        return static_cast<int>(d);
    }

    double number(const QJsonValue& v, const QString& path) const
    {
        if (!v.isDouble() || v.toDouble() < 0)
            fail(path, "expected a number of at least 0");
        return v.toDouble();
    }

    bool boolean(const QJsonValue& v, const QString& path) const
    {
        if (!v.isBool())
            fail(path, "expected true or false");
        return v.toBool();
    }

    // Text travels as Latin-1 bytes: every character must be one of them, and
    // control characters would break the console's line-based replies.
    Bytes text(const QJsonValue& v, const QString& path) const
    {
        if (!v.isString())
            fail(path, "expected a string");
        const QString s = v.toString();
        for (QChar c : s)
            if (c.unicode() < 0x20 || c.unicode() > 0xFF)
                fail(path, "character U+" + QString::number(c.unicode(), 16).toUpper().rightJustified(4, '0')
                               + " is not a byte from 0x20 to 0xFF");
        return s.toLatin1();
    }

    // A number or text in JSON; the console only ever deals in text.
    Bytes scalar(const QJsonValue& v, const QString& path) const
    {
        if (v.isDouble()) {
            const double d = v.toDouble();
            if (std::floor(d) == d && std::fabs(d) < 1e15)
                return Bytes::number(static_cast<qint64>(d));
            return Bytes::number(d);
        }
        if (v.isString())
            return text(v, path);
        fail(path, "expected a string or a number");
    }

    int slotKey(const QString& key, const QString& path) const
    {
        bool ok = false;
        const int slot = key.toInt(&ok);
        if (!ok || slot < 0 || slot > 63)
            fail(path, "\"" + key + "\" is not a client slot from 0 to 63");
        return slot;
    }

    void ping(const QJsonValue& v, const QString& path, ClientState& state, int& ping) const
    {
        if (v.isString() && (v.toString() == "CNCT" || v.toString() == "ZMBI")) {
            state = v.toString() == "CNCT" ? ClientState::Connecting : ClientState::Zombie;
            ping = 0;
            return;
        }
        const double d = v.toDouble(-1);
        if (!v.isDouble() || std::floor(d) != d || d < 0 || d > 99999)
            fail(path, "expected a whole number from 0 to 99999, \"CNCT\" or \"ZMBI\"");
        state = ClientState::Active;
        ping = static_cast<int>(d);
    }

    SimPlayer player(const QJsonValue& v, const QString& path) const
    {
        const QJsonObject o = object(v, path);
        onlyKeys(o, path, {"slot", "name", "address", "port", "ping", "score", "lastmsg", "qport",
                           "rate", "userinfo"});
        for (const char* key : {"slot", "name", "address", "ping"})
            if (!o.contains(key))
                fail(path, QStringLiteral("\"%1\" is missing").arg(key));
        SimPlayer p;
        p.slot = integer(o["slot"], path + ".slot", 0, 63);
        p.name = text(o["name"], path + ".name");
        p.address = text(o["address"], path + ".address");
        if (!p.isLocal()) {
            QHostAddress parsed;
            if (!parsed.setAddress(QString::fromLatin1(p.address))
                || parsed.protocol() != QAbstractSocket::IPv4Protocol)
                fail(path + ".address", "expected a dotted IPv4 address, \"bot\" or \"loopback\"");
            if (!o.contains("port"))
                fail(path, "\"port\" is missing");
            p.port = integer(o["port"], path + ".port", 0, 65535);
        }
        ping(o["ping"], path + ".ping", p.state, p.ping);
        if (o.contains("score"))
            p.score = integer(o["score"], path + ".score", -99999, 99999);
        if (o.contains("lastmsg"))
            p.lastmsg = integer(o["lastmsg"], path + ".lastmsg", 0, 9999999);
        // A real qport is a random number the client picks; a fixed mix of
        // slot and port keeps replies reproducible.
        p.qport = p.isLocal() ? 0 : (p.slot * 7919 + p.port) % 65536;
        if (o.contains("qport"))
            p.qport = integer(o["qport"], path + ".qport", 0, 65535);
        if (o.contains("rate"))
            p.rate = integer(o["rate"], path + ".rate", 0, 99999);
        if (o.contains("userinfo")) {
            const QJsonObject info = object(o["userinfo"], path + ".userinfo");
            for (auto it = info.begin(); it != info.end(); ++it)
                p.userinfo.append({text(QJsonValue(it.key()), path + ".userinfo"),
                                   scalar(it.value(), path + ".userinfo." + it.key())});
        }
        return p;
    }

    VariableSetting variable(const QString& name, const QJsonValue& v, const QString& path) const
    {
        VariableSetting s;
        s.name = text(QJsonValue(name), path);
        if (s.name.isEmpty() || s.name.contains(' ') || s.name.contains('"') || s.name.contains(';'))
            fail(path, "a variable name must be one word without quotes or semicolons");
        if (v.isNull())
            return s;
        if (!v.isObject()) {
            s.value = scalar(v, path);
            return s;
        }
        const QJsonObject o = v.toObject();
        onlyKeys(o, path, {"value", "default", "serverinfo"});
        if (!o.contains("value"))
            fail(path, "\"value\" is missing");
        s.value = scalar(o["value"], path + ".value");
        if (o.contains("default"))
            s.resetValue = scalar(o["default"], path + ".default");
        if (o.contains("serverinfo"))
            s.serverinfo = boolean(o["serverinfo"], path + ".serverinfo");
        return s;
    }

    QList<int> slotList(const QJsonValue& v, const QString& path) const
    {
        QList<int> result;
        if (v.isArray()) {
            const QJsonArray a = v.toArray();
            for (int i = 0; i < a.size(); ++i)
                result.append(integer(a[i], QStringLiteral("%1[%2]").arg(path).arg(i), 0, 63));
        } else {
            result.append(integer(v, path, 0, 63));
        }
        return result;
    }

    TimelineEvent event(const QJsonValue& v, const QString& path) const
    {
        const QJsonObject o = object(v, path);
        onlyKeys(o, path, {"after_status", "at_seconds", "join", "leave", "ping", "score", "set",
                           "command"});
        TimelineEvent e;
        if (o.contains("after_status") == o.contains("at_seconds"))
            fail(path, "give exactly one of \"after_status\" and \"at_seconds\"");
        if (o.contains("after_status")) {
            e.trigger = TimelineEvent::Trigger::StatusCount;
            e.at = integer(o["after_status"], path + ".after_status", 0,
                           std::numeric_limits<int>::max());
        } else {
            e.trigger = TimelineEvent::Trigger::Seconds;
            e.at = number(o["at_seconds"], path + ".at_seconds");
        }
        if (o.contains("join")) {
            const QJsonValue j = o["join"];
            if (j.isArray()) {
                const QJsonArray a = j.toArray();
                for (int i = 0; i < a.size(); ++i)
                    e.join.append(player(a[i], QStringLiteral("%1.join[%2]").arg(path).arg(i)));
            } else {
                e.join.append(player(j, path + ".join"));
            }
        }
        if (o.contains("leave"))
            e.leave = slotList(o["leave"], path + ".leave");
        if (o.contains("ping")) {
            const QJsonObject pings = object(o["ping"], path + ".ping");
            for (auto it = pings.begin(); it != pings.end(); ++it) {
                PingSetting s;
                s.slot = slotKey(it.key(), path + ".ping");
                ping(it.value(), path + ".ping." + it.key(), s.state, s.ping);
                e.ping.append(s);
            }
        }
        if (o.contains("score")) {
            const QJsonObject scores = object(o["score"], path + ".score");
            for (auto it = scores.begin(); it != scores.end(); ++it)
                e.score.append({slotKey(it.key(), path + ".score"),
                                integer(it.value(), path + ".score." + it.key(), -99999, 99999)});
        }
        if (o.contains("set")) {
            const QJsonObject vars = object(o["set"], path + ".set");
            for (auto it = vars.begin(); it != vars.end(); ++it) {
                const QString at = path + ".set." + it.key();
                if (it.value().isObject())
                    fail(at, "expected a string, a number or null");
                e.set.append(variable(it.key(), it.value(), at));
            }
        }
        if (o.contains("command"))
            e.command = text(o["command"], path + ".command");
        if (e.join.isEmpty() && e.leave.isEmpty() && e.ping.isEmpty() && e.score.isEmpty()
            && e.set.isEmpty() && e.command.isEmpty())
            fail(path, "the event changes nothing");
        return e;
    }

private:
    QString origin_;
};

}  // namespace

Scenario parseScenario(const QByteArray& json, const QString& origin)
{
    const Reader r(origin);
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        throw Error(QStringLiteral("%1: not valid JSON: %2 at byte %3")
                        .arg(origin, parseError.errorString())
                        .arg(parseError.offset));
    if (!doc.isObject())
        throw Error(origin + ": the top level must be an object");
    const QJsonObject o = doc.object();
    r.onlyKeys(o, "top level", {"description", "players", "variables", "split", "silent",
                                "answer_every", "min_interval_ms", "jitter", "seed",
                                "loop_seconds", "timeline"});

    Scenario s;
    s.origin = origin;
    if (o.contains("players")) {
        if (!o["players"].isArray())
            r.fail("players", "expected an array");
        const QJsonArray players = o["players"].toArray();
        QSet<int> taken;
        for (int i = 0; i < players.size(); ++i) {
            const QString path = QStringLiteral("players[%1]").arg(i);
            const SimPlayer p = r.player(players[i], path);
            if (taken.contains(p.slot))
                r.fail(path + ".slot", QStringLiteral("slot %1 is used twice").arg(p.slot));
            taken.insert(p.slot);
            s.players.append(p);
        }
    }
    if (o.contains("variables")) {
        const QJsonObject vars = r.object(o["variables"], "variables");
        for (auto it = vars.begin(); it != vars.end(); ++it)
            s.variables.append(r.variable(it.key(), it.value(), "variables." + it.key()));
    }
    if (o.contains("split"))
        s.split = r.integer(o["split"], "split", 0, 65000);
    if (o.contains("silent"))
        s.silent = r.boolean(o["silent"], "silent");
    if (o.contains("answer_every"))
        s.answerEvery = r.integer(o["answer_every"], "answer_every", 1, 1000000);
    if (o.contains("min_interval_ms"))
        s.minIntervalMs = r.integer(o["min_interval_ms"], "min_interval_ms", 0, 3600000);
    if (o.contains("jitter"))
        s.jitter = r.integer(o["jitter"], "jitter", 0, 9999);
    if (o.contains("seed"))
        s.seed = static_cast<quint32>(r.integer(o["seed"], "seed", 0, std::numeric_limits<int>::max()));
    if (o.contains("loop_seconds"))
        s.loopSeconds = r.number(o["loop_seconds"], "loop_seconds");
    if (o.contains("timeline")) {
        if (!o["timeline"].isArray())
            r.fail("timeline", "expected an array");
        const QJsonArray events = o["timeline"].toArray();
        for (int i = 0; i < events.size(); ++i)
            s.timeline.append(r.event(events[i], QStringLiteral("timeline[%1]").arg(i)));
    }
    return s;
}

Scenario loadScenarioFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error("Scenario " + path + ": cannot be read: " + file.errorString());
    return parseScenario(file.readAll(), "Scenario " + path);
}

}  // namespace palisor::sim
