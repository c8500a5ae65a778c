#include "store/banbatch.h"

#include "core/error.h"
#include "store/datapalisor.h"
#include "store/livetable.h"
#include "store/sqltext.h"

namespace palisor {

BanBatch::BanBatch(TDataPalisor& data, const Penalty& why)
    : data_(data),
      why_(why),
      db_(data.database()),
      query_(db_),
      nameLength_(data.tblBanned->declaredLength(QStringLiteral("NAME"))),
      addressLength_(data.tblBanned->declaredLength(QStringLiteral("ADDRESS")))
{
    prepare();
}

void BanBatch::prepare()
{
    // The reason lives as long as the transaction, so each one gets it anew.
    data_.SetPenaltyContext(&why_);
    if (!query_.prepare(QStringLiteral("EXECUTE PROCEDURE BAN_PLAYER(?, ?)")))
        throw Error(sql::errorText(query_.lastError()));
}

void BanBatch::ban(const QString& name, const QString& address)
{
    // An empty field is stored as an empty text, never as no value, so a ban
    // imported again is recognised as the same ban.
    const auto text = [](const QString& value) { return value.isNull() ? QStringLiteral("") : value; };
    query_.bindValue(0, text(TDataPalisor::FixQuotes(name).left(nameLength_)));
    query_.bindValue(1, text(address.left(addressLength_)));
    if (!query_.exec())
        throw Error(sql::errorText(query_.lastError()));
    stored_ = true;
}

void BanBatch::commit()
{
    // The prepared call belongs to the transaction that ends here, so it is
    // prepared again for the next one.
    query_.finish();
    if (stored_)
        sql::commitAndContinue(db_);
    stored_ = false;
    prepare();
}

void BanBatch::finish()
{
    // Whatever BANNED sees next in this transaction is not this batch's doing.
    query_.finish();
    data_.SetPenaltyContext(nullptr);
    if (stored_)
        sql::commitAndContinue(db_);
    stored_ = false;
    data_.tblBanned->refresh();
}

}  // namespace palisor
