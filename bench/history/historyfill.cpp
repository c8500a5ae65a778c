#include "bench/history/historyfill.h"

#include "core/error.h"
#include "store/sqltext.h"

#include <QRandomGenerator>
#include <QSqlQuery>
#include <QStringList>
#include <algorithm>
#include <cmath>

namespace palisor::bench {
namespace {

const QStringList Maps{QStringLiteral("obj_team1"), QStringLiteral("obj_team2"), QStringLiteral("obj_team3"),
                       QStringLiteral("obj_team4"), QStringLiteral("mohdm6"),    QStringLiteral("mohdm2")};

void exec(QSqlQuery& q)
{
    if (!q.exec())
        throw Error(sql::errorText(q.lastError()));
}

}  // namespace

int FillSamples(QSqlDatabase& db, const QDateTime& end, int days, int pollSeconds)
{
    QRandomGenerator random(20260301);
    db.transaction();
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO SAMPLES (TAKEN, PLAYERCOUNT, MAXPLAYERS, MAPNAME, MEDIANPING, HIGHPING) "
                                  "VALUES (?, ?, ?, ?, ?, ?)")))
        throw Error(sql::errorText(q.lastError()));
    const int maxPlayers = 32;
    const QDateTime start = end.addDays(-days);
    const QDateTime outage = start.addDays(2).addSecs(14 * 3600);
    int map = 0;
    QDateTime mapEnds = start.addSecs(25 * 60);
    int written = 0;
    int players = 0;
    double lag = 0;
    for (QDateTime at = start; at <= end; at = at.addSecs(pollSeconds)) {
        if (at >= outage && at < outage.addSecs(2 * 3600))
            continue;   // the server was down
        if (at >= mapEnds) {
            map = (map + 1) % int(Maps.size());
            mapEnds = at.addSecs(20 * 60 + int(random.bounded(15 * 60)));
        }
        const double hour = at.time().hour() + at.time().minute() / 60.0;
        const bool weekend = at.date().dayOfWeek() >= 6;
        // Quietest at nine in the morning, fullest at nine in the evening;
        // players come and go one at a time.
        const double evening = std::pow(0.5 + 0.5 * std::cos((hour - 21.0) / 24.0 * 2 * M_PI), 1.5);
        const double load = std::min(1.0, 0.05 + (weekend ? 1.0 : 0.85) * evening);
        const int wanted = int(std::lround(load * maxPlayers));
        if (random.bounded(4) == 0)
            players += wanted > players ? 1 : (wanted < players ? -1 : int(random.bounded(3)) - 1);
        players = std::clamp(players, 0, maxPlayers);
        lag = std::clamp(lag + (random.generateDouble() - 0.5) * 2.0, -12.0, 12.0);
        const int median = int(std::lround(50 + players * 0.8 + lag));
        q.bindValue(0, at.toUTC());   // samples are kept in UTC
        q.bindValue(1, players);
        q.bindValue(2, maxPlayers);
        q.bindValue(3, Maps[map]);
        q.bindValue(4, players > 0 ? QVariant(median) : QVariant(QMetaType::fromType<int>()));
        q.bindValue(5, players > 0 ? QVariant(median + 40 + int(random.bounded(200))) : QVariant(QMetaType::fromType<int>()));
        exec(q);
        ++written;
    }
    q.finish();
    if (!db.commit())
        throw Error(sql::errorText(db.lastError()));
    db.transaction();
    return written;
}

int FillEvents(QSqlDatabase& db, const QDateTime& end)
{
    struct Event {
        double daysAgo;
        const char* kind;
        const char* client;
        const char* name;   // UTF-8 here; stored as Latin-1
        const char* address;
        const char* reason;
        const char* source;
    };
    const Event events[] = {
        {6.8, "KICK", "04", "xXAdminXx", "198.51.100.17", "ILLEGAL NAME", "monitor"},
        {6.2, "KICK", "11", "Laggy McLagface", "203.0.113.88", "HIGH PING", "monitor"},
        {5.9, "BAN", "", "Old Timer", "IMPORT-03012026", "Banned, old.txt", "import"},
        {5.9, "BAN", "", "IMPORT-03012026", "192.0.2.200", "Banned, old.txt", "import"},
        {5.1, "BAN", "07", "Sgt. \"Rock\"", "198.51.100.42", "Wall hack, reported by \"Medic\"", "admin"},
        {5.1, "KICK", "07", "Sgt. \"Rock\"", "198.51.100.42", "Wall hack, reported by \"Medic\"", "admin"},
        {4.3, "BAN", "02", "Kübelwagen", "203.0.113.5", "SERVER REQUEST", "server request"},
        {4.3, "KICK", "02", "Kübelwagen", "203.0.113.5", "BANNED IP", "monitor"},
        {3.7, "REFUSAL", "01", "Överste Åström", "192.0.2.10", "HIGH PING", "monitor"},
        {3.2, "KICK", "09", "Kübelwagen", "203.0.113.77", "BANNED IP", "monitor"},
        {2.5, "KICK", "05", "O`Neil", "198.51.100.3", "ADMIN DECISION", "admin"},
        {1.9, "BAN", "", "Camper", "192.0.2.61", "Recent Players list", "admin"},
        {1.2, "UNBAN", "", "Old Timer", "IMPORT-03012026", "", "admin"},
        {0.6, "KICK", "12", "Spammer, the", "203.0.113.140", "Chat spam\r\nagain", "admin"},
        {0.1, "KICK", "03", "Laggy McLagface", "203.0.113.90", "HIGH PING", "monitor"},
    };
    db.transaction();
    QSqlQuery q(db);
    if (!q.prepare(QStringLiteral("INSERT INTO EVENTS (OCCURRED, KIND, CLIENTID, NAME, ADDRESS, REASON, SOURCE) "
                                  "VALUES (?, ?, ?, ?, ?, ?, ?)")))
        throw Error(sql::errorText(q.lastError()));
    const auto text = [](const char* utf8) {
        const QString s = QString::fromUtf8(utf8);
        return s.isEmpty() ? QVariant(QMetaType::fromType<QString>()) : QVariant(s);
    };
    for (const Event& e : events) {
        q.bindValue(0, end.addSecs(-qint64(e.daysAgo * 86400)));
        q.bindValue(1, text(e.kind));
        q.bindValue(2, text(e.client));
        q.bindValue(3, text(e.name));
        q.bindValue(4, text(e.address));
        q.bindValue(5, text(e.reason));
        q.bindValue(6, text(e.source));
        exec(q);
    }
    q.finish();
    if (!db.commit())
        throw Error(sql::errorText(db.lastError()));
    db.transaction();
    return int(std::size(events));
}

}  // namespace palisor::bench
