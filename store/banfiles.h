#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

namespace palisor {

// The banned-list text files. Kind 1 holds a player name per line, kind 2 an
// IP address per line, kind 3 the name, a TAB and the address.
enum BanListKind { NamesKind = 1, AddressesKind = 2, NamesAndAddressesKind = 3 };

struct ImportFields {
    QString name;
    QString address;
};

// One line of an import file split into name and address: "//" starts a
// remark, a TAB separates name from address (then the kind plays no part),
// fields lose leading and trailing characters up to code 32 and are cut to
// the column lengths given (a length below 1 means no limit). Without a TAB
// the field is the name for kinds 1 and 3, the address for kind 2; any other
// kind throws palisor::Error "Import Type not defined". Defined for every
// line and length; nothing else is thrown.
ImportFields ParseImportLine(const QString& line, int kind, int nameLength = -1, int addressLength = -1);

// The lines of an import file's bytes, one character per byte: lines end at
// CR LF, a lone CR or a lone LF, and the content stops at the first NUL.
QStringList SplitImportLines(const QByteArray& content);
// The same for a file; throws palisor::Error when it cannot be read.
QStringList ReadImportFile(const QString& fileName);

// Stands in for the missing half of a names-only or addresses-only entry:
// "IMPORT-" and the day as MMDDYYYY.
QString ImportPlaceholder(const QDate& day);

// The ban an import line of a kind stands for: kind 1 fills the address and
// kind 2 the name with the placeholder. Throws palisor::Error
// "Import Type not defined" for another kind.
ImportFields BanForImport(const ImportFields& fields, int kind, const QString& placeholder);

// One export line for a row of BANNED. Throws palisor::Error
// "Export Type not defined" for a kind other than 1 to 3.
QString ExportLine(int kind, const QString& name, const QString& address);
// The file name the save dialog proposes for an export kind.
QString ExportFileName(int kind);

}  // namespace palisor
