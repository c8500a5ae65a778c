// The data module's operations for the monitor and the list windows:
// recording and banning players, the rule checks, counts, sorting, searching.

#include "core/dialogs.h"
#include "core/error.h"
#include "store/datapalisor.h"
#include "store/outage.h"
#include "store/ruleindexes.h"
#include "store/sqltext.h"

#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace palisor {

using namespace palisor::sql;

namespace {

QString trimmedName(const QString& name)
{
    qsizetype from = 0;
    qsizetype to = name.size();
    while (from < to && name.at(from).unicode() <= 0x20)
        ++from;
    while (to > from && name.at(to - 1).unicode() <= 0x20)
        --to;
    return name.mid(from, to - from);
}

// Case-blind prefix match of one row's name against the search text as the
// administrator entered it: a trailing blank is part of it, and an empty text
// begins every name.
bool beginsWithEntered(const QVariant& value, const QString& upperEntered)
{
    return !value.isNull() && value.toString().toUpper().startsWith(upperEntered);
}

// A hostile or broken server can send a field longer than its column; the
// part that fits is stored rather than failing the whole poll.
QString fitted(const LiveTable* table, const QString& column, const QString& value)
{
    return value.left(table->declaredLength(column));
}

// The WHERE clause for the players of the table's server and the condition
// given (either may be empty).
QString serverPlayers(const LiveTable* players, const QString& condition = QString())
{
    QStringList all;
    if (!players->scopeCondition().isEmpty())
        all << players->scopeCondition();
    if (!condition.isEmpty())
        all << condition;
    return all.isEmpty() ? QString() : QStringLiteral(" WHERE ") + all.join(QStringLiteral(" AND "));
}

}  // namespace

void TDataPalisor::requireOpen(const LiveTable* table) const
{
    if (!table->isOpen())
        throw Error(QStringLiteral("Cannot perform this operation on a closed dataset (%1)").arg(table->tableName()));
}

void TDataPalisor::callProcedure(const QString& name, const QVariantList& inputs)
{
    QString statement = QStringLiteral("EXECUTE PROCEDURE ") + name;
    if (!inputs.isEmpty())
        statement += QLatin1Char('(') + QStringList(inputs.size(), QStringLiteral("?")).join(QStringLiteral(", "))
                     + QLatin1Char(')');
    QSqlDatabase db = database();
    run(db, statement, inputs);
    commitAndContinue(db);
}

QString TDataPalisor::FixQuotes(const QString& text)
{
    QString fixed = text;
    fixed.replace(QLatin1Char('\''), QLatin1Char('`'));
    return fixed;
}

qint64 TDataPalisor::expiredMark() const
{
    QSqlQuery q = run(database(), QStringLiteral("SELECT GEN_ID(RECENT_EXPIRED, 0) FROM RDB$DATABASE"));
    return q.next() ? q.value(0).toLongLong() : 0;
}

void TDataPalisor::rereadRecent(const QString& name, const QString& address, bool recorded, qint64 mark)
{
    // RECENT can be large; only the recorded player's row and the rows the
    // clean-up removed are read again, which leaves the same rows in the same
    // order as reading the whole table would. Rows nobody has read yet are
    // read fresh when somebody does.
    if (!tblRecent->rowsRead()) {
        expiredMark_ = mark;
        tblRecent->refresh();
        return;
    }
    QStringList columns;
    QVariantList values;
    if (recorded) {
        columns = {QStringLiteral("NAME"), QStringLiteral("ADDRESS")};
        values = {name, address};
    }
    QString dropColumn;
    QVariant oldestKept;
    if (mark != expiredMark_) {
        expiredMark_ = mark;
        QSqlQuery q = run(database(), QStringLiteral("SELECT MIN(LASTSEEN) FROM RECENT"));
        oldestKept = q.next() ? q.value(0) : QVariant();
        if (oldestKept.isNull()) {
            tblRecent->refresh();
            return;
        }
        dropColumn = QStringLiteral("LASTSEEN");
    }
    tblRecent->refreshRowsMatching(columns, values, dropColumn, oldestKept);
}

void TDataPalisor::RecordPlayer(const QString& clientId, const QString& name, const QString& address,
                                const QString& port, const QString& ping)
{
    RecordPlayers({{clientId, name, address, port, ping}}, false);
}

void TDataPalisor::RecordPlayers(const QList<PlayerRecord>& players, bool replacing)
{
    // While the database is gone only a poll's players are kept, the
    // latest replacing the older.
    if (lost_ && !writingOut_ && replacing) {
        kept_->keepPlayers(players);
        return;
    }
    writeOrKeep([&] { writePlayers(players, replacing); }, [&] {
        if (!replacing)
            throw Error(lostError_);
        kept_->keepPlayers(players);
    });
}

void TDataPalisor::writePlayers(const QList<PlayerRecord>& players, bool replacing)
{
    requireOpen(tblPlayers);
    requireOpen(tblRecent);
    // One statement prepared once for every player and one commit for them
    // all: a poll's players are present and recently seen together or not at
    // all, and the durable commit is paid once a poll instead of once a
    // player. A crash loses at most this poll's recording, which the next
    // poll makes again.
    static const QString record = QStringLiteral(
        "EXECUTE BLOCK (I0 TYPE OF COLUMN PLAYERS.CLIENTID = ?, I1 TYPE OF COLUMN PLAYERS.NAME = ?, "
        "I2 TYPE OF COLUMN PLAYERS.ADDRESS = ?, I3 TYPE OF COLUMN PLAYERS.PORT = ?, "
        "I4 TYPE OF COLUMN PLAYERS.PING = ?, RN TYPE OF COLUMN RECENT.NAME = ?, "
        "RA TYPE OF COLUMN RECENT.ADDRESS = ?) AS BEGIN "
        "EXECUTE PROCEDURE NEW_PLAYER (:I0, :I1, :I2, :I3, :I4); "
        "EXECUTE PROCEDURE ADD_RECENT (:RN, :RA); END");
    QSqlDatabase db = database();
    QList<std::pair<QString, QString>> seen;
    qint64 expired = expiredMark_;
    for (int attempt = 1;; ++attempt) {
        // A fresh snapshot: a player another server's monitor recorded since
        // this attachment's last commit is seen again, not added twice.
        db.rollback();
        db.transaction();
        seen.clear();
        try {
            if (replacing)
                run(db, QStringLiteral("DELETE FROM PLAYERS") + serverPlayers(tblPlayers));
            QSqlQuery q(db);
            q.setForwardOnly(true);
            for (const PlayerRecord& player : players) {
                // A blank name is no player to show or to remember.
                if (trimmedName(player.name).isEmpty())
                    continue;
                if (seen.isEmpty() && !q.prepare(record))
                    throw Error(errorText(q.lastError()));
                const QString fixed = FixQuotes(player.name);
                const QVariantList values{fitted(tblPlayers, QStringLiteral("CLIENTID"), player.clientId),
                                          fitted(tblPlayers, QStringLiteral("NAME"), fixed),
                                          fitted(tblPlayers, QStringLiteral("ADDRESS"), player.address),
                                          fitted(tblPlayers, QStringLiteral("PORT"), player.port),
                                          fitted(tblPlayers, QStringLiteral("PING"), player.ping),
                                          fitted(tblRecent, QStringLiteral("NAME"), fixed),
                                          fitted(tblRecent, QStringLiteral("ADDRESS"), player.address)};
                for (int i = 0; i < values.size(); ++i)
                    q.bindValue(i, values[i]);
                if (!q.exec())
                    throw Error(errorText(q.lastError()));
                seen.append({values[5].toString(), values[6].toString()});
            }
            QSqlQuery clean = run(db, QStringLiteral("EXECUTE BLOCK RETURNS (EXPIRED BIGINT) AS BEGIN "
                                                     "EXECUTE PROCEDURE REMOVE_EXPIRED; "
                                                     "EXPIRED = GEN_ID(RECENT_EXPIRED, 0); SUSPEND; END"));
            if (clean.next())
                expired = clean.value(0).toLongLong();
            break;
        } catch (const Error& e) {
            db.rollback();
            db.transaction();
            // Servers' monitors recording one player at once (the game's
            // default name is on several servers): each later one waits for
            // an earlier one's commit and is refused; on a fresh snapshot it
            // finds his row, unless yet another recorded him meanwhile.
            // Each attempt waits only for one such short recording; sixteen
            // cover more servers seeing him in one moment than a clan runs.
            constexpr int Attempts = 16;
            if (attempt < Attempts && e.message().contains(QLatin1String("update conflicts with concurrent update")))
                continue;
            throw;
        } catch (...) {
            db.rollback();
            db.transaction();
            throw;
        }
    }
    commitAndContinue(db);
    tblPlayers->refresh();
    if (seen.isEmpty())
        rereadRecent(QString(), QString(), false, expired);
    for (const auto& [name, address] : seen)
        rereadRecent(name, address, true, expired);
}

void TDataPalisor::BanPlayer(const QString& name, const QString& address, const Penalty& why)
{
    writeOrKeep([&] { writeBan(name, address, why); }, [&] { kept_->keep(KeptBan{name, address, why}); });
}

void TDataPalisor::writeBan(const QString& name, const QString& address, const Penalty& why)
{
    requireOpen(tblBanned);
    const QString fixed = fitted(tblBanned, QStringLiteral("NAME"), FixQuotes(name));
    const QString fittedAddress = fitted(tblBanned, QStringLiteral("ADDRESS"), address);
    // BANNED's triggers write the record in the statement that stores the
    // ban; the commit that ends the call also ends the context.
    SetPenaltyContext(&why);
    try {
        callProcedure(QStringLiteral("BAN_PLAYER"), {fixed, fittedAddress});
    } catch (...) {
        SetPenaltyContext(nullptr);
        throw;
    }
    tblBanned->refreshRowsMatching({QStringLiteral("NAME"), QStringLiteral("ADDRESS")}, {fixed, fittedAddress});
}

bool TDataPalisor::IsImmune(const QString& name)
{
    // While the database is gone the lists answer as they were, from memory
    // alone: an attempt to reconnect may have closed the tables.
    return checkRule([&] {
        requireOpen(tblImmune);
        const int row = rules_->immuneRow(name);
        if (row < 0)
            return false;
        tblImmune->setCurrentRow(row);
        return true;
    }, [&] { return rules_->immuneRow(name) >= 0; });
}

bool TDataPalisor::IsBanned(const QString& name, const QString& address)
{
    if (IsImmune(name))
        return false;
    return checkRule([&] {
        requireOpen(tblBanned);
        int row = rules_->bannedAddressRow(address);
        if (row >= 0) {
            tblBanned->setCurrentRow(row);
            return true;
        }
        row = rules_->bannedNameRow(name);
        if (row < 0)
            return false;
        // The ban of a name follows the player to his current address; the
        // penalty log keeps it as the one ban it is. Should the database go
        // meanwhile, the ban holds all the same.
        SetBanFollowsPlayer(true);
        try {
            tblBanned->storeValueAt(row, rules_->bannedKey(row), QStringLiteral("ADDRESS"), address);
        } catch (const std::exception& e) {
            if (NoteLoss(messageOf(e)))
                return true;
            SetBanFollowsPlayer(false);
            throw;
        }
        return true;
    }, [&] {
        return rules_->bannedAddressRow(address) >= 0 || rules_->bannedNameRow(name) >= 0
               || kept_->banned(name, address);
    });
}

bool TDataPalisor::IsIllegalName(const QString& name)
{
    if (IsImmune(name))
        return false;
    return checkRule([&] {
        requireOpen(tblIllegal);
        const int row = rules_->illegalRow(name);
        if (row >= 0) {
            tblIllegal->setCurrentRow(row);
            return true;
        }
        tblIllegal->last();
        return false;
    }, [&] { return rules_->illegalRow(name) >= 0; });
}

bool TDataPalisor::checkRule(const std::function<bool()>& online, const std::function<bool()>& fromMemory)
{
    if (!lost_) {
        try {
            return online();
        } catch (const std::exception& e) {
            if (!NoteLoss(messageOf(e)))
                throw;
        }
    }
    return fromMemory();
}

std::optional<TDataPalisor::NameChanges> TDataPalisor::nameChanges(const QString& list) const
{
    if (!namesLogged_ || (list != QLatin1String("BANNED") && list != QLatin1String("RECENT")))
        return std::nullopt;
    // A change numbered before the newest one seen can still turn up: its
    // transaction began first and committed later. Rows are only added
    // between maintenance cycles (which connect anew and forget the
    // counts), so their number grows with every change that turns up.
    QSqlQuery q =
        run(database(), QStringLiteral("SELECT MAX(ID), COUNT(*) FROM NAME_CHANGES WHERE LIST = ?"), {list});
    if (!q.next())
        return NameChanges{};
    return NameChanges{q.value(0).toLongLong(), q.value(1).toLongLong()};
}

int TDataPalisor::CountRows(LiveTable* table)
{
    if (!lost_) {
        try {
            return countRows(table);
        } catch (const std::exception& e) {
            if (!NoteLoss(messageOf(e)))
                throw;
        }
    }
    // While the database is gone: the count last seen, or the players kept.
    if (table == tblPlayers)
        return kept_->players() ? int(PlayerPings().size()) : table->rowCount();
    return nameCounts_.value(table ? table->tableName() : QString()).count;
}

int TDataPalisor::countRows(LiveTable* table)
{
    if (!table || !table->isOpen())
        return 0;
    // A server's players are few, and the poll reads them anyway for its
    // sample and the grid: counted from those rows, read at most once after
    // each recording, the poll's count and the Action menu agree with what
    // is shown, and a poll counts them five times without a query each.
    if (table == tblPlayers) {
        QSet<QString> clients;
        for (int row = 0; row < table->rowCount(); ++row) {
            const QString id = withoutTrailingBlanks(table->value(row, QStringLiteral("CLIENTID")).toString());
            if (!id.isEmpty())
                clients.insert(id);
        }
        return int(clients.size());
    }
    // Counting a long list's distinct names reads every row, so the count is
    // kept until the database logs a change to its names.
    const QString name = table->tableName();
    const std::optional<NameChanges> changes = nameChanges(name);
    const auto kept = nameCounts_.constFind(name);
    if (changes && kept != nameCounts_.constEnd() && kept->changes == *changes)
        return kept->count;
    const QString column = table->columnNames().first();
    QString statement = QStringLiteral("SELECT COUNT(DISTINCT %1) AS \"COUNT\" FROM %2").arg(quoted(column), quoted(name));
    // A text of blanks only is no entry (the database compares texts as if
    // padded with blanks, so this leaves out the empty text as well).
    QStringList conditions;
    if (!table->characterSet(column).isEmpty())
        conditions << QStringLiteral("%1 <> ''").arg(quoted(column));
    if (!table->scopeCondition().isEmpty())
        conditions << table->scopeCondition();
    if (!conditions.isEmpty())
        statement += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    QSqlQuery q = run(database(), statement);
    const int count = q.next() ? q.value(0).toInt() : 0;
    if (changes)
        nameCounts_.insert(name, {*changes, count});
    return count;
}

void TDataPalisor::SortTable(const QString& column, LiveTable* table)
{
    requireOpen(table);
    if (table->fieldIndex(column) < 0)
        throw Error(QStringLiteral("%1: Field '%2' not found").arg(table->tableName(), column));
    const QString key = withoutTrailingBlanks(table->text(column));
    table->setSortColumn(column);
    const int rows = table->rowCount();
    for (int r = 0; r < rows; ++r) {
        const QVariant v = table->value(r, column);
        if (!v.isNull() && withoutTrailingBlanks(v.toString()) == key) {
            table->setCurrentRow(r);
            return;
        }
    }
    table->first();
}

void TDataPalisor::DeletePlayers()
{
    requireOpen(tblPlayers);
    QSqlDatabase db = database();
    run(db, QStringLiteral("DELETE FROM PLAYERS") + serverPlayers(tblPlayers));
    commitAndContinue(db);
    tblPlayers->refresh();
}

void TDataPalisor::DeletePlayer(const QString& clientId)
{
    requireOpen(tblPlayers);
    QSqlDatabase db = database();
    run(db, QStringLiteral("DELETE FROM PLAYERS") + serverPlayers(tblPlayers, QStringLiteral("CLIENTID = ?")), {clientId});
    commitAndContinue(db);
    tblPlayers->refresh();
}

void TDataPalisor::FindPlayer(bool ask, QString& searchText, LiveTable* table)
{
    requireOpen(table);
    const int remembered = table->currentRow();
    int start = 0;
    if (!ask && !trimmedName(searchText).isEmpty()) {
        start = remembered + 1;
    } else {
        QString entered = searchText;
        if (!dialogs().inputQuery(QStringLiteral("Find Player"), QStringLiteral("Enter the player's name:"), entered))
            return;
        searchText = entered;
    }
    const QString key = searchText.toUpper();
    const int rows = table->rowCount();
    for (int r = start; r < rows; ++r) {
        if (beginsWithEntered(table->value(r, QStringLiteral("NAME")), key)) {
            table->setCurrentRow(r);
            return;
        }
    }
    table->setCurrentRow(remembered);
    dialogs().information(QStringLiteral("Player ") + searchText + QStringLiteral(" Not Found"));
}

QString TDataPalisor::SelectMatches(const QString& resultColumn, const QString& keyColumn, LiveTable* table)
{
    if (!table || !table->isOpen())
        return QString();
    const QString value = table->text(keyColumn);
    QSqlQuery q = run(database(),
                      QStringLiteral("SELECT ") + resultColumn + QStringLiteral(" FROM ") + table->tableName()
                          + QStringLiteral(" WHERE \"") + keyColumn + QStringLiteral("\"=?"),
                      {value});
    QString lines;
    while (q.next())
        lines += (q.value(0).isNull() ? QString() : q.value(0).toString()) + QStringLiteral("\r\n");
    return lines;
}

QString TDataPalisor::LookupMapAlias(const QString& mapName)
{
    if (lost_ && (!tblMapAlias->isOpen() || !tblMapAlias->rowsRead()))
        return mapName;
    requireOpen(tblMapAlias);
    const QString key = RuleIndexes::caseBlindKey(mapName);
    const int rows = tblMapAlias->rowCount();
    for (int r = 0; r < rows; ++r) {
        const QVariant v = tblMapAlias->value(r, QStringLiteral("MAPNAME"));
        if (!v.isNull() && RuleIndexes::caseBlindKey(v.toString()) == key) {
            tblMapAlias->setCurrentRow(r);
            return tblMapAlias->text(QStringLiteral("ALIAS"));
        }
    }
    return mapName;
}

void TDataPalisor::tblMessagesAfterPost(LiveTable& table) { table.refresh(); }

}  // namespace palisor
