#include "store/banimport.h"

#include "core/error.h"
#include "store/banfiles.h"
#include "store/banbatch.h"
#include "store/datapalisor.h"
#include "store/livetable.h"

namespace palisor {

int ImportBanLines(TDataPalisor& data, const QStringList& lines, int kind, const QString& placeholder,
                   const QString& fileName, const ImportProgress& progress)
{
    LiveTable& banned = *data.tblBanned;
    const int nameLength = banned.declaredLength(QStringLiteral("NAME"));
    const int addressLength = banned.declaredLength(QStringLiteral("ADDRESS"));
    BanBatch batch(data, Penalty{EventSource::Import, fileName, QString()});
    int added = 0;
    try {
        for (int i = 0; i < lines.size(); ++i) {
            if (progress && i % ImportProgressStep == 0 && i > 0 && !progress(i))
                break;
            const ImportFields fields = ParseImportLine(lines[i], kind, nameLength, addressLength);
            if (fields.name.isEmpty() && fields.address.isEmpty())
                continue;
            const ImportFields ban = BanForImport(fields, kind, placeholder);
            batch.ban(ban.name, ban.address);
            if (++added % ImportCommitStep == 0)
                batch.commit();
        }
    } catch (...) {
        // The bans before the failing line stay, and the list shows them.
        try {
            batch.finish();
        } catch (const std::exception&) {
            // The original failure is the one worth reporting.
        }
        throw;
    }
    batch.finish();
    return added;
}

}  // namespace palisor
