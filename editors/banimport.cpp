#include "editors/banimport.h"

#include "app/error.h"
#include "editors/banfiles.h"
#include "store/datapalisor.h"
#include "store/sqltext.h"

#include <QSqlQuery>

namespace palisor {
namespace {

// The ban list's stored-procedure call, prepared once for the whole import.
class BanCall {
public:
    explicit BanCall(QSqlDatabase db) : db_(std::move(db)), query_(db_) { prepare(); }

    void ban(const QString& name, const QString& address)
    {
        query_.bindValue(0, TDataPalisor::FixQuotes(name));
        query_.bindValue(1, address);
        if (!query_.exec())
            throw Error(sql::errorText(query_.lastError()));
        stored_ = true;
    }

    // Makes the bans so far durable. The prepared call belongs to the
    // transaction that ended, so it is prepared again for the next one.
    void commit()
    {
        query_.finish();
        if (stored_)
            sql::commitAndContinue(db_);
        stored_ = false;
    }

    void prepare()
    {
        if (!query_.prepare(QStringLiteral("EXECUTE PROCEDURE BAN_PLAYER(?, ?)")))
            throw Error(sql::errorText(query_.lastError()));
    }

    // Stores what was banned so far and re-reads BANNED once.
    void finish(LiveTable& banned)
    {
        commit();
        banned.refresh();
    }

private:
    QSqlDatabase db_;
    QSqlQuery query_;
    bool stored_ = false;
};

}  // namespace

int ImportBanLines(TDataPalisor& data, const QStringList& lines, int kind, const QString& placeholder,
                   const ImportProgress& progress)
{
    LiveTable& banned = *data.tblBanned;
    const int nameLength = banned.declaredLength(QStringLiteral("NAME"));
    const int addressLength = banned.declaredLength(QStringLiteral("ADDRESS"));
    BanCall call(data.database());
    int added = 0;
    try {
        for (int i = 0; i < lines.size(); ++i) {
            if (progress && i % ImportProgressStep == 0 && i > 0 && !progress(i))
                break;
            const ImportFields fields = ParseImportLine(lines[i], kind, nameLength, addressLength);
            if (fields.name.isEmpty() && fields.address.isEmpty())
                continue;
            const ImportFields ban = BanForImport(fields, kind, placeholder);
            call.ban(ban.name, ban.address);
            if (++added % ImportCommitStep == 0) {
                call.commit();
                call.prepare();
            }
        }
    } catch (...) {
        // The bans before the failing line stay, and the list shows them.
        try {
            call.finish(banned);
        } catch (const std::exception&) {
            // The original failure is the one worth reporting.
        }
        throw;
    }
    call.finish(banned);
    return added;
}

}  // namespace palisor
