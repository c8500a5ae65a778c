#include "store/ruleindexes.h"

#include "store/livetable.h"
#include "store/sqltext.h"

#include <algorithm>
#include <deque>

namespace palisor {

RuleIndexes::RuleIndexes(LiveTable& immune, LiveTable& banned, LiveTable& illegal, QObject* parent)
    : QObject(parent), immune_(immune), banned_(banned), illegal_(illegal)
{
    connect(&immune_, &LiveTable::rowsChanged, this, [this](int) { immuneValid_ = false; });
    connect(&illegal_, &LiveTable::rowsChanged, this, [this](int) { illegalPatterns_.valid = false; });
    connect(&banned_, &LiveTable::rowsChanged, this, [this](int row) { bannedRowStored(row); });
}

RuleIndexes::~RuleIndexes() = default;

QString RuleIndexes::caseBlindKey(const QString& text) { return sql::withoutTrailingBlanks(text).toUpper(); }

QString RuleIndexes::lowerAsciiLetters(const QString& text)
{
    QString lowered = text;
    for (QChar& c : lowered)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return lowered;
}

// ---- exact keys ---------------------------------------------------------

void RuleIndexes::ExactIndex::clear()
{
    rows.clear();
    keyAt.clear();
}

void RuleIndexes::ExactIndex::add(int row, const QString& key)
{
    while (keyAt.size() <= row)
        keyAt.append(QString());
    keyAt[row] = key;
    if (key.isNull())
        return;
    QList<int>& list = rows[key];
    list.insert(std::lower_bound(list.begin(), list.end(), row) - list.begin(), row);
}

void RuleIndexes::ExactIndex::remove(int row)
{
    if (row >= keyAt.size() || keyAt[row].isNull())
        return;
    auto it = rows.find(keyAt[row]);
    if (it != rows.end()) {
        QList<int>& list = it.value();
        list.erase(std::lower_bound(list.begin(), list.end(), row));
        if (list.isEmpty())
            rows.erase(it);
    }
    keyAt[row] = QString();
}

int RuleIndexes::ExactIndex::first(const QString& key) const
{
    const auto it = rows.constFind(key);
    return it == rows.constEnd() ? -1 : it.value().first();
}

namespace {

// The key a row's column gives, or a null text when the column holds no
// entry: no value, or nothing but blanks. Such a row never matches a player.
QString keyOf(const QVariant& value, bool caseBlind)
{
    if (value.isNull())
        return QString();
    const QString text = caseBlind ? RuleIndexes::caseBlindKey(value.toString())
                                   : sql::withoutTrailingBlanks(value.toString());
    return text.isEmpty() ? QString() : text;
}

}  // namespace

void RuleIndexes::buildExact(ExactIndex& index, LiveTable& table, const QString& column, bool caseBlind)
{
    index.clear();
    const int rows = table.rowCount();
    index.keyAt.reserve(rows);
    for (int r = 0; r < rows; ++r)
        index.add(r, keyOf(table.value(r, column), caseBlind));
    index.valid = true;
}

void RuleIndexes::bannedRowStored(int row)
{
    // A single stored row (the name-ban address update, a grid edit) keeps
    // every other row where it was; anything else shifts rows.
    if (row < 0 || !bannedAddress_.valid || !bannedName_.valid || row > bannedAddress_.keyAt.size()) {
        bannedAddress_.valid = false;
        bannedName_.valid = false;
        return;
    }
    bannedAddress_.remove(row);
    bannedName_.remove(row);
    bannedAddress_.add(row, keyOf(banned_.value(row, QStringLiteral("ADDRESS")), false));
    bannedName_.add(row, keyOf(banned_.value(row, QStringLiteral("NAME")), true));
}

int RuleIndexes::bannedAddressRow(const QString& address)
{
    if (!bannedAddress_.valid)
        buildExact(bannedAddress_, banned_, QStringLiteral("ADDRESS"), false);
    return bannedAddress_.first(sql::withoutTrailingBlanks(address));
}

int RuleIndexes::bannedNameRow(const QString& name)
{
    if (!bannedName_.valid)
        buildExact(bannedName_, banned_, QStringLiteral("NAME"), true);
    return bannedName_.first(caseBlindKey(name));
}

// ---- immune prefixes ----------------------------------------------------

int RuleIndexes::immuneRow(const QString& name)
{
    if (!immuneValid_) {
        immuneSorted_.clear();
        const int rows = immune_.rowCount();
        for (int r = 0; r < rows; ++r) {
            const QString key = keyOf(immune_.value(r, QStringLiteral("NAME")), true);
            if (!key.isNull())
                immuneSorted_.emplace_back(key, r);
        }
        std::sort(immuneSorted_.begin(), immuneSorted_.end());
        immuneValid_ = true;
    }
    const QString key = caseBlindKey(name);
    if (key.isEmpty())
        return -1;
    int found = -1;
    auto it = std::lower_bound(immuneSorted_.begin(), immuneSorted_.end(), std::make_pair(key, -1));
    for (; it != immuneSorted_.end() && it->first.startsWith(key); ++it)
        if (found < 0 || it->second < found)
            found = it->second;
    return found;
}

// ---- illegal words ------------------------------------------------------

void RuleIndexes::PatternIndex::clear()
{
    next.assign(1, {});
    fail.assign(1, 0);
    best.assign(1, -1);
}

void RuleIndexes::PatternIndex::add(const QString& pattern, int row)
{
    int node = 0;
    for (const QChar c : pattern) {
        auto it = next[node].find(c.unicode());
        if (it == next[node].end()) {
            next[node][c.unicode()] = int(next.size());
            node = int(next.size());
            next.emplace_back();
            fail.push_back(0);
            best.push_back(-1);
        } else {
            node = it->second;
        }
    }
    if (best[node] < 0 || row < best[node])
        best[node] = row;
}

void RuleIndexes::PatternIndex::finish()
{
    std::deque<int> queue;
    for (const auto& [c, child] : next[0]) {
        fail[child] = 0;
        queue.push_back(child);
    }
    while (!queue.empty()) {
        const int node = queue.front();
        queue.pop_front();
        // Breadth first, so the suffix a node falls back to is complete.
        const int inherited = best[fail[node]];
        if (inherited >= 0 && (best[node] < 0 || inherited < best[node]))
            best[node] = inherited;
        for (const auto& [c, child] : next[node]) {
            int f = fail[node];
            while (f != 0 && !next[f].count(c))
                f = fail[f];
            const auto it = next[f].find(c);
            fail[child] = (it != next[f].end() && it->second != child) ? it->second : 0;
            queue.push_back(child);
        }
    }
    valid = true;
}

int RuleIndexes::PatternIndex::firstMatch(const QString& text) const
{
    int found = -1;
    int node = 0;
    for (const QChar c : text) {
        while (node != 0 && !next[node].count(c.unicode()))
            node = fail[node];
        const auto it = next[node].find(c.unicode());
        node = it == next[node].end() ? 0 : it->second;
        if (best[node] >= 0 && (found < 0 || best[node] < found))
            found = best[node];
    }
    return found;
}

int RuleIndexes::illegalRow(const QString& name)
{
    if (!illegalPatterns_.valid) {
        illegalPatterns_.clear();
        const int rows = illegal_.rowCount();
        for (int r = 0; r < rows; ++r) {
            const QVariant v = illegal_.value(r, QStringLiteral("NAME"));
            if (!keyOf(v, false).isNull())
                illegalPatterns_.add(lowerAsciiLetters(v.toString()), r);
        }
        illegalPatterns_.finish();
    }
    return illegalPatterns_.firstMatch(lowerAsciiLetters(name));
}

}  // namespace palisor
