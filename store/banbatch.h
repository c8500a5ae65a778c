#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include "store/history.h"

namespace palisor {

class TDataPalisor;

// Many bans in a row (a ban-list import): each goes through BAN_PLAYER exactly
// as TDataPalisor::BanPlayer sends it (apostrophes turned into backquotes,
// fields cut to their columns), but the call is prepared once and BANNED is
// re-read only by finish(), not after every ban. Every ban is recorded in the
// penalty log with the batch's reason and source.
class BanBatch {
public:
    BanBatch(TDataPalisor& data, const Penalty& why);

    void ban(const QString& name, const QString& address);
    // Makes the bans so far durable.
    void commit();
    // Commits and re-reads BANNED once, so the list shows every ban made.
    void finish();

private:
    void prepare();

    TDataPalisor& data_;
    Penalty why_;
    QSqlDatabase db_;
    QSqlQuery query_;
    int nameLength_;
    int addressLength_;
    bool stored_ = false;
};

}  // namespace palisor
