// The banned list: bans and their removal recorded in the penalty log, and
// the list's import and export files.
#include "core/timing.h"
#include "ctl/commands.h"
#include "ctl/session.h"
#include "store/banfiles.h"
#include "store/banimport.h"
#include "store/datapalisor.h"
#include "store/ruleindexes.h"
#include "store/sqltext.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace palisor::ctl {

using namespace palisor::sql;

namespace {

const QString List = QStringLiteral("banned");

QString textOf(const QVariant& v) { return v.isNull() ? QString() : v.toString(); }

bool dottedAddress(const QString& address)
{
    static const QRegularExpression quad(QStringLiteral("^(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})\\.(\\d{1,3})$"));
    const QRegularExpressionMatch match = quad.match(address);
    if (!match.hasMatch())
        return false;
    for (int part = 1; part <= 4; ++part) {
        if (match.captured(part).toInt() > 255)
            return false;
    }
    return true;
}

// An import of names only or addresses only stores this for the missing
// half, and an export writes it back out.
bool placeholder(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^IMPORT-\\d{8}$"));
    return form.match(text).hasMatch();
}

QString checkedAddress(const QString& address)
{
    if (!dottedAddress(address))
        throw Error(QStringLiteral("\"%1\" is not an IP address such as 203.0.113.7").arg(address));
    return address;
}

struct Ban {
    quint64 key;
    QString name;
    QString address;
};

QList<Ban> bans(const TDataPalisor& data)
{
    QList<Ban> found;
    data.tblBanned->visitStoredRows({QStringLiteral("NAME"), QStringLiteral("ADDRESS")},
                                    [&found](int, quint64 key, const QVariantList& values) {
                                        found.append({key, textOf(values[0]), textOf(values[1])});
                                    });
    return found;
}

}  // namespace

QString BanList(TDataPalisor& data, const QString& grep)
{
    QStringList lines;
    for (const Ban& ban : bans(data)) {
        if (grep.isEmpty() || ban.name.contains(grep, Qt::CaseInsensitive) || ban.address.contains(grep, Qt::CaseInsensitive))
            lines << ban.name + QLatin1Char('\t') + ban.address;
    }
    return Lines(lines);
}

void BanAdd(TDataPalisor& data, const QString& name, const QString& address, const QString& reason)
{
    const QString banned = name.isEmpty() ? QString() : CheckedEntry(*data.tblBanned, QStringLiteral("NAME"), name, List);
    const QString at = address.isEmpty() ? QString() : checkedAddress(address);
    // The penalty log keeps the reason as typed or not at all: cut or with
    // characters replaced, it would no longer say what the admin wrote.
    if (!reason.isEmpty())
        CheckedEntry(*data.tblBanned, QStringLiteral("REASON"), reason, List);
    data.BanPlayer(banned, at, Penalty{EventSource::Admin, reason, QString()});
}

int BanRemove(TDataPalisor& data, const QString& name, const QString& address)
{
    // Names are stored as BAN_PLAYER was given them, apostrophes turned.
    const QString nameKey = RuleIndexes::caseBlindKey(withoutTrailingBlanks(TDataPalisor::FixQuotes(name)));
    QList<quint64> keys;
    for (const Ban& ban : bans(data)) {
        if ((name.isEmpty() || RuleIndexes::caseBlindKey(withoutTrailingBlanks(ban.name)) == nameKey)
            && (address.isEmpty() || withoutTrailingBlanks(ban.address) == address))
            keys << ban.key;
    }
    if (keys.isEmpty()) {
        const QString quotedName = QLatin1Char('"') + name + QLatin1Char('"');
        const QString what = name.isEmpty()      ? address
                             : address.isEmpty() ? quotedName
                                                 : quotedName + QStringLiteral(" at ") + address;
        throw Error(QStringLiteral("No ban of %1 on the banned list").arg(what));
    }
    // The removals and their records in the penalty log are one commit.
    const Penalty why{EventSource::Admin, QString(), QString()};
    data.SetPenaltyContext(&why);
    QSqlDatabase db = data.database();
    try {
        for (const quint64 key : keys)
            run(db, QStringLiteral("DELETE FROM BANNED WHERE ") + keyCondition(), {keyText(key)});
        commitAndContinue(db);
    } catch (...) {
        db.rollback();
        db.transaction();
        throw;
    }
    return int(keys.size());
}

int BanKind(const QString& kind)
{
    if (kind == QLatin1String("names"))
        return NamesKind;
    if (kind == QLatin1String("addresses"))
        return AddressesKind;
    if (kind == QLatin1String("both"))
        return NamesAndAddressesKind;
    throw UsageError(QStringLiteral("Unknown kind \"%1\" (names, addresses or both)").arg(kind));
}

int BanImport(TDataPalisor& data, const QString& fileName, int kind)
{
    const QStringList lines = ReadImportFile(fileName);
    const int nameLength = data.tblBanned->declaredLength(QStringLiteral("NAME"));
    QStringList bad;
    for (int i = 0; i < lines.size(); ++i) {
        const ImportFields fields = ParseImportLine(lines[i], kind);
        QString why;
        if (fields.name.size() > nameLength)
            why = QStringLiteral("the name \"%1\" is longer than %2 characters").arg(fields.name).arg(nameLength);
        else if (!fields.address.isEmpty() && !dottedAddress(fields.address) && !placeholder(fields.address))
            why = QStringLiteral("\"%1\" is not an IP address").arg(fields.address);
        if (!why.isEmpty())
            bad << QStringLiteral("%1 line %2: %3").arg(fileName).arg(i + 1).arg(why);
    }
    if (!bad.isEmpty()) {
        constexpr int Shown = 10;
        QString message = bad.mid(0, Shown).join(QLatin1Char('\n'));
        if (bad.size() > Shown)
            message += QStringLiteral("\n... and %1 more bad lines").arg(bad.size() - Shown);
        throw Error(message + QStringLiteral("\nNothing was imported."));
    }
    return ImportBanLines(data, lines, kind, ImportPlaceholder(now().date()), QFileInfo(fileName).fileName());
}

QString BanExport(TDataPalisor& data, int kind)
{
    QString text;
    for (const Ban& ban : bans(data))
        text += ExportLine(kind, ban.name, ban.address) + QStringLiteral("\r\n");
    return text;
}

}  // namespace palisor::ctl
