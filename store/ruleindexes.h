#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <unordered_map>
#include <utility>
#include <vector>

namespace palisor {

class LiveTable;

// The rule checks of every poll (immune, banned, illegal name) answered from
// indexes over the IMMUNE, BANNED and ILLEGAL table objects instead of row
// scans. Each answer is the row a scan from the first row would stop at, or
// -1. A row whose column has no value or only blanks is no entry and never
// matches. An index is rebuilt on first use after its table was re-read and
// kept in step when a single row is stored.
//
// BANNED may be far too long to hold in memory just for the checks, so its
// index keeps only each row's locator and hashes of its two keys, read from
// the database when the rows themselves are not in memory; a row whose hash
// matches is compared in full before it counts.
class RuleIndexes : public QObject {
    Q_OBJECT
public:
    RuleIndexes(LiveTable& immune, LiveTable& banned, LiveTable& illegal, QObject* parent = nullptr);
    ~RuleIndexes() override;

    // Names compare with the apostrophe and the backquote as one character:
    // the program stores a name with its apostrophes turned into backquotes,
    // while the server and the administrator's typing keep them.

    // First IMMUNE row whose NAME, upper-cased, begins with the upper-cased
    // name (trailing blanks ignored; an empty name matches nothing).
    int immuneRow(const QString& name);
    // First BANNED row with exactly this ADDRESS (trailing blanks ignored).
    int bannedAddressRow(const QString& address);
    // First BANNED row with this NAME, letter case ignored.
    int bannedNameRow(const QString& name);
    // The locator of a BANNED row either look-up gave.
    quint64 bannedKey(int row) const;
    // First ILLEGAL row whose NAME (A-Z lowered) occurs in the name (A-Z lowered).
    int illegalRow(const QString& name);

    // Builds every index not built yet, reading what it needs.
    void prepare();
    // While frozen (the database is gone) the indexes stay as they are,
    // whatever becomes of the tables, and answer without them: a BANNED row
    // counts on the hash of its key alone. Thawing drops them all, to be
    // built again from the tables as read then.
    void setFrozen(bool frozen);

    static QString caseBlindKey(const QString& text);
    static QString lowerAsciiLetters(const QString& text);
    // caseBlindKey with every apostrophe read as a backquote.
    static QString nameKey(const QString& name);

private:
    // One column's keys by hash: per row (0 for no value) and sorted by hash,
    // then row, so the first candidate found is the first row.
    struct HashedColumn {
        std::vector<quint64> hashAt;
        std::vector<std::pair<quint64, int>> byHash;
        void clear();
        void append(quint64 hash);
        void sort();
        void replace(int row, quint64 hash);
    };

    struct BannedIndex {
        bool valid = false;
        std::vector<quint64> keys;
        HashedColumn address;
        HashedColumn name;
    };

    // Several patterns searched in one pass over the name (Aho-Corasick).
    struct PatternIndex {
        bool valid = false;
        std::vector<std::unordered_map<char16_t, int>> next{1};
        std::vector<int> fail{0};
        std::vector<int> best{-1};   // lowest row of a pattern ending here or at a suffix
        void clear();
        void add(const QString& pattern, int row);
        void finish();
        int firstMatch(const QString& text) const;
    };

    void buildBanned();
    void bannedRowStored(int row);
    int firstBanned(const HashedColumn& column, const QString& key, const QString& columnName, bool isName);
    void buildImmune();
    void buildIllegal();

    LiveTable& immune_;
    LiveTable& banned_;
    LiveTable& illegal_;
    bool frozen_ = false;
    bool immuneValid_ = false;
    std::vector<std::pair<QString, int>> immuneSorted_;   // (key, row) by key, then row
    BannedIndex bannedIndex_;
    PatternIndex illegalPatterns_;
};

}  // namespace palisor
