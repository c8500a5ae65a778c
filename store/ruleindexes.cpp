#include "store/ruleindexes.h"

#include "store/livetable.h"
#include "store/sqltext.h"

#include <algorithm>
#include <deque>

namespace palisor {

RuleIndexes::RuleIndexes(LiveTable& immune, LiveTable& banned, LiveTable& illegal, QObject* parent)
    : QObject(parent), immune_(immune), banned_(banned), illegal_(illegal)
{
    connect(&immune_, &LiveTable::rowsChanged, this, [this](int) { immuneValid_ = immuneValid_ && frozen_; });
    connect(&illegal_, &LiveTable::rowsChanged, this,
            [this](int) { illegalPatterns_.valid = illegalPatterns_.valid && frozen_; });
    connect(&banned_, &LiveTable::rowsChanged, this, [this](int row) {
        if (!frozen_)
            bannedRowStored(row);
    });
}

void RuleIndexes::prepare()
{
    if (!immuneValid_)
        buildImmune();
    if (!bannedIndex_.valid)
        buildBanned();
    if (!illegalPatterns_.valid)
        buildIllegal();
}

void RuleIndexes::setFrozen(bool frozen)
{
    if (frozen_ && !frozen) {
        immuneValid_ = false;
        bannedIndex_.valid = false;
        illegalPatterns_.valid = false;
    }
    frozen_ = frozen;
}

RuleIndexes::~RuleIndexes() = default;

QString RuleIndexes::caseBlindKey(const QString& text) { return sql::withoutTrailingBlanks(text).toUpper(); }

namespace {

QString quotesAsBackquotes(QString text) { return text.replace(QLatin1Char('\''), QLatin1Char('`')); }

}  // namespace

QString RuleIndexes::nameKey(const QString& name) { return quotesAsBackquotes(caseBlindKey(name)); }

QString RuleIndexes::lowerAsciiLetters(const QString& text)
{
    QString lowered = text;
    for (QChar& c : lowered)
        if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            c = QChar(c.unicode() + 32);
    return lowered;
}

// ---- banned addresses and names ----------------------------------------

namespace {

// The key a row's name or address gives, or a null text when the column
// holds no entry: no value, or nothing but blanks. Such a row never matches
// a player.
QString keyOf(const QVariant& value, bool isName)
{
    if (value.isNull())
        return QString();
    const QString text = isName ? RuleIndexes::nameKey(value.toString()) : sql::withoutTrailingBlanks(value.toString());
    return text.isEmpty() ? QString() : text;
}

// 0 stands for "no value", so no key hashes to it.
quint64 hashOf(const QString& key)
{
    if (key.isNull())
        return 0;
    const quint64 hash = qHash(QStringView(key), size_t(0x5eed));
    return hash == 0 ? 1 : hash;
}

const QString kName = QStringLiteral("NAME");
const QString kAddress = QStringLiteral("ADDRESS");

}  // namespace

void RuleIndexes::HashedColumn::clear()
{
    hashAt.clear();
    byHash.clear();
}

void RuleIndexes::HashedColumn::append(quint64 hash)
{
    if (hash != 0)
        byHash.emplace_back(hash, int(hashAt.size()));
    hashAt.push_back(hash);
}

void RuleIndexes::HashedColumn::sort() { std::sort(byHash.begin(), byHash.end()); }

void RuleIndexes::HashedColumn::replace(int row, quint64 hash)
{
    if (hashAt[row] != 0)
        byHash.erase(std::lower_bound(byHash.begin(), byHash.end(), std::make_pair(hashAt[row], row)));
    if (hash != 0)
        byHash.insert(std::lower_bound(byHash.begin(), byHash.end(), std::make_pair(hash, row)), {hash, row});
    hashAt[row] = hash;
}

void RuleIndexes::buildBanned()
{
    BannedIndex& index = bannedIndex_;
    index.keys.clear();
    index.address.clear();
    index.name.clear();
    banned_.visitStoredRows({kName, kAddress}, [&index](int, quint64 key, const QVariantList& values) {
        index.keys.push_back(key);
        index.name.append(hashOf(keyOf(values[0], true)));
        index.address.append(hashOf(keyOf(values[1], false)));
    });
    index.address.sort();
    index.name.sort();
    index.valid = true;
}

void RuleIndexes::bannedRowStored(int row)
{
    // A single stored row (the name-ban address update, a grid edit) keeps
    // every other row where it was; anything else may shift rows.
    BannedIndex& index = bannedIndex_;
    if (row < 0 || !index.valid || row >= int(index.keys.size())) {
        index.valid = false;
        return;
    }
    const QVariantList values = banned_.rowsRead()
        ? QVariantList{banned_.value(row, kName), banned_.value(row, kAddress)}
        : banned_.storedValues(index.keys[row], {kName, kAddress});
    if (values.size() != 2) {
        index.valid = false;
        return;
    }
    index.name.replace(row, hashOf(keyOf(values[0], true)));
    index.address.replace(row, hashOf(keyOf(values[1], false)));
}

int RuleIndexes::firstBanned(const HashedColumn& column, const QString& key, const QString& columnName, bool isName)
{
    if (key.isEmpty())
        return -1;
    const quint64 hash = hashOf(key);
    for (auto it = std::lower_bound(column.byHash.begin(), column.byHash.end(), std::make_pair(hash, -1));
         it != column.byHash.end() && it->first == hash; ++it) {
        const int row = it->second;
        if (frozen_)
            return row;
        const QVariant stored = banned_.rowsRead()
            ? banned_.value(row, columnName)
            : banned_.storedValues(bannedIndex_.keys[row], {columnName}).value(0);
        if (keyOf(stored, isName) == key)
            return row;
    }
    return -1;
}

int RuleIndexes::bannedAddressRow(const QString& address)
{
    if (!bannedIndex_.valid)
        buildBanned();
    return firstBanned(bannedIndex_.address, sql::withoutTrailingBlanks(address), kAddress, false);
}

int RuleIndexes::bannedNameRow(const QString& name)
{
    if (!bannedIndex_.valid)
        buildBanned();
    return firstBanned(bannedIndex_.name, nameKey(name), kName, true);
}

quint64 RuleIndexes::bannedKey(int row) const { return bannedIndex_.keys.at(row); }

// ---- immune prefixes ----------------------------------------------------

void RuleIndexes::buildImmune()
{
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

int RuleIndexes::immuneRow(const QString& name)
{
    if (!immuneValid_)
        buildImmune();
    const QString key = nameKey(name);
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

void RuleIndexes::buildIllegal()
{
    illegalPatterns_.clear();
    const int rows = illegal_.rowCount();
    for (int r = 0; r < rows; ++r) {
        const QVariant v = illegal_.value(r, QStringLiteral("NAME"));
        if (!keyOf(v, false).isNull())
            illegalPatterns_.add(quotesAsBackquotes(lowerAsciiLetters(v.toString())), r);
    }
    illegalPatterns_.finish();
}

int RuleIndexes::illegalRow(const QString& name)
{
    if (!illegalPatterns_.valid)
        buildIllegal();
    return illegalPatterns_.firstMatch(quotesAsBackquotes(lowerAsciiLetters(name)));
}

}  // namespace palisor
