#pragma once

#include <QHash>
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
class RuleIndexes : public QObject {
    Q_OBJECT
public:
    RuleIndexes(LiveTable& immune, LiveTable& banned, LiveTable& illegal, QObject* parent = nullptr);
    ~RuleIndexes() override;

    // First IMMUNE row whose NAME, upper-cased, begins with the upper-cased
    // name (trailing blanks ignored; an empty name matches nothing).
    int immuneRow(const QString& name);
    // First BANNED row with exactly this ADDRESS (trailing blanks ignored).
    int bannedAddressRow(const QString& address);
    // First BANNED row with this NAME, letter case ignored.
    int bannedNameRow(const QString& name);
    // First ILLEGAL row whose NAME (A-Z lowered) occurs in the name (A-Z lowered).
    int illegalRow(const QString& name);

    static QString caseBlindKey(const QString& text);
    static QString lowerAsciiLetters(const QString& text);

private:
    // Rows by key, each list in row order, so the first entry is the row a
    // scan finds first. keyAt remembers every row's key for single-row updates.
    struct ExactIndex {
        bool valid = false;
        QHash<QString, QList<int>> rows;
        QList<QString> keyAt;   // null text for a row with no value
        void clear();
        void add(int row, const QString& key);
        void remove(int row);
        int first(const QString& key) const;
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

    void buildExact(ExactIndex& index, LiveTable& table, const QString& column, bool caseBlind);
    void bannedRowStored(int row);

    LiveTable& immune_;
    LiveTable& banned_;
    LiveTable& illegal_;
    bool immuneValid_ = false;
    std::vector<std::pair<QString, int>> immuneSorted_;   // (key, row) by key, then row
    ExactIndex bannedAddress_;
    ExactIndex bannedName_;
    PatternIndex illegalPatterns_;
};

}  // namespace palisor
