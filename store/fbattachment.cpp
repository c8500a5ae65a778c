#include "store/fbattachment.h"

#include "core/error.h"

#include <QByteArray>
#include <QFile>
#include <QSqlDriver>
#include <QVariant>
#include <cstdlib>
#include <ibase.h>

namespace palisor {

struct FbAttachment::Handles {
    isc_db_handle db = 0;
    isc_tr_handle tr = 0;
    ISC_STATUS_ARRAY status{};
};

QString EngineStatusText(const ISC_STATUS* status)
{
    QString text;
    char line[1024];
    const ISC_STATUS* next = status;
    while (fb_interpret(line, sizeof line, &next) > 0) {
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += QString::fromLocal8Bit(line);
    }
    return text;
}

namespace {

void addParameter(QByteArray& block, char tag, const QByteArray& value)
{
    block += tag;
    block += char(value.size());
    block += value;
}

}  // namespace

FbAttachment::FbAttachment(const QString& file, const QString& user, const QString& password)
    : h_(std::make_unique<Handles>())
{
    QByteArray dpb(1, char(isc_dpb_version1));
    addParameter(dpb, isc_dpb_user_name, user.toLatin1());
    addParameter(dpb, isc_dpb_password, password.toLatin1());
    addParameter(dpb, isc_dpb_lc_ctype, QByteArrayLiteral("ISO8859_1"));
    const QByteArray name = QFile::encodeName(file);
    if (isc_attach_database(h_->status, 0, name.constData(), &h_->db, short(dpb.size()), dpb.constData()))
        throw Error(EngineStatusText(h_->status));
}

FbAttachment::~FbAttachment()
{
    ISC_STATUS_ARRAY status;
    if (h_->tr)
        isc_rollback_transaction(status, &h_->tr);
    isc_detach_database(status, &h_->db);
}

void FbAttachment::begin()
{
    const ISC_LONG timeout = LockTimeoutSeconds;
    QByteArray tpb;
    tpb += char(isc_tpb_version3);
    tpb += char(isc_tpb_write);
    tpb += char(isc_tpb_concurrency);
    tpb += char(isc_tpb_wait);
    tpb += char(isc_tpb_lock_timeout);
    tpb += char(sizeof timeout);
    for (unsigned i = 0; i < sizeof timeout; ++i)
        tpb += char((timeout >> (8 * i)) & 0xFF);
    if (isc_start_transaction(h_->status, &h_->tr, 1, &h_->db, short(tpb.size()), tpb.constData()))
        throw Error(EngineStatusText(h_->status));
}

void FbAttachment::commit()
{
    // A failed commit leaves the transaction running, to be rolled back.
    if (isc_commit_transaction(h_->status, &h_->tr))
        throw Error(EngineStatusText(h_->status));
}

void FbAttachment::rollback()
{
    if (h_->tr && isc_rollback_transaction(h_->status, &h_->tr))
        throw Error(EngineStatusText(h_->status));
}

void FbAttachment::execute(const QString& statement)
{
    const QByteArray text = statement.toLatin1();
    if (isc_dsql_execute_immediate(h_->status, &h_->db, &h_->tr, 0, text.constData(), SQL_DIALECT_V6, nullptr))
        throw Error(EngineStatusText(h_->status));
}

std::optional<qint64> FbAttachment::number(const QString& query)
{
    const QByteArray text = query.toLatin1();
    isc_stmt_handle statement = 0;
    XSQLDA* out = static_cast<XSQLDA*>(std::calloc(1, XSQLDA_LENGTH(1)));
    out->version = SQLDA_VERSION1;
    out->sqln = 1;
    ISC_INT64 value = 0;
    short null = 0;
    const auto release = [&] {
        ISC_STATUS_ARRAY status;
        if (statement)
            isc_dsql_free_statement(status, &statement, DSQL_drop);
        std::free(out);
    };
    ISC_STATUS* status = h_->status;
    if (isc_dsql_allocate_statement(status, &h_->db, &statement)
        || isc_dsql_prepare(status, &h_->tr, &statement, 0, text.constData(), SQL_DIALECT_V6, out)) {
        release();
        throw Error(EngineStatusText(status));
    }
    // The engine converts any exact number to the 64-bit integer asked for.
    out->sqlvar[0].sqltype = SQL_INT64 + 1;
    out->sqlvar[0].sqlscale = 0;
    out->sqlvar[0].sqllen = sizeof value;
    out->sqlvar[0].sqldata = reinterpret_cast<ISC_SCHAR*>(&value);
    out->sqlvar[0].sqlind = &null;
    if (isc_dsql_execute(status, &h_->tr, &statement, SQL_DIALECT_V6, nullptr)) {
        release();
        throw Error(EngineStatusText(status));
    }
    const ISC_STATUS fetched = isc_dsql_fetch(status, &statement, SQL_DIALECT_V6, out);
    if (fetched != 0 && fetched != 100) {
        release();
        throw Error(EngineStatusText(status));
    }
    release();
    if (fetched == 100 || null)
        return std::nullopt;
    return value;
}

unsigned EngineHandle(const QSqlDatabase& db)
{
    if (!db.isOpen())
        return 0;
    const QVariant handle = db.driver()->handle();
    if (!handle.isValid() || handle.metaType() != QMetaType::fromType<isc_db_handle>())
        return 0;
    return *static_cast<const isc_db_handle*>(handle.constData());
}

void CancelRunningStatement(unsigned handle)
{
    if (!handle)
        return;
    ISC_STATUS_ARRAY status{};
    isc_db_handle db = handle;
    fb_cancel_operation(status, &db, fb_cancel_raise);
}

}  // namespace palisor
