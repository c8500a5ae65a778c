#include "store/banfiles.h"

#include "core/error.h"

#include <QFile>

namespace palisor {
namespace {

const QString importTypeError = QStringLiteral("Import Type not defined");

bool isBlankOrControl(QChar c) { return c.unicode() <= 32; }

// Only blanks and control characters go: a name may begin or end with a
// non-breaking space or any other high byte, and those are part of it.
QString trimField(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankOrControl(text[begin]))
        ++begin;
    while (end > begin && isBlankOrControl(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

QString cut(const QString& text, int length) { return length > 0 ? text.left(length) : text; }

}  // namespace

ImportFields ParseImportLine(const QString& line, int kind, int nameLength, int addressLength)
{
    ImportFields fields;
    const qsizetype comment = [&] {
        const qsizetype at = line.indexOf(QStringLiteral("//"));
        return at < 0 ? line.size() : at;
    }();
    const qsizetype tab = line.indexOf(QLatin1Char('\t'));
    if (tab >= 0) {
        fields.name = trimField(line.left(tab));
        if (comment > tab)
            fields.address = trimField(line.mid(tab + 1, comment - tab - 1));
    } else {
        const QString field = trimField(line.left(comment));
        switch (kind) {
        case NamesKind:
        case NamesAndAddressesKind:
            fields.name = field;
            break;
        case AddressesKind:
            fields.address = field;
            break;
        default:
            throw Error(importTypeError);
        }
    }
    fields.name = cut(fields.name, nameLength);
    fields.address = cut(fields.address, addressLength);
    return fields;
}

QStringList SplitImportLines(const QByteArray& content)
{
    const qsizetype nul = content.indexOf('\0');
    const qsizetype size = nul < 0 ? content.size() : nul;
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i < size; ++i) {
        const char c = content[i];
        if (c != '\r' && c != '\n')
            continue;
        lines << QString::fromLatin1(content.constData() + start, i - start);
        if (c == '\r' && i + 1 < size && content[i + 1] == '\n')
            ++i;
        start = i + 1;
    }
    if (start < size)
        lines << QString::fromLatin1(content.constData() + start, size - start);
    return lines;
}

QStringList ReadImportFile(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    const QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Error(QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, file.errorString()));
    return SplitImportLines(content);
}

QString ImportPlaceholder(const QDate& day)
{
    return QStringLiteral("IMPORT-") + day.toString(QStringLiteral("MMddyyyy"));
}

ImportFields BanForImport(const ImportFields& fields, int kind, const QString& placeholder)
{
    switch (kind) {
    case NamesKind:
        return {fields.name, placeholder};
    case AddressesKind:
        return {placeholder, fields.address};
    case NamesAndAddressesKind:
        return fields;
    default:
        throw Error(importTypeError);
    }
}

QString ExportLine(int kind, const QString& name, const QString& address)
{
    switch (kind) {
    case NamesKind:
        return name;
    case AddressesKind:
        return address;
    case NamesAndAddressesKind:
        return name + QLatin1Char('\t') + address;
    default:
        throw Error(QStringLiteral("Export Type not defined"));
    }
}

QString ExportFileName(int kind)
{
    switch (kind) {
    case NamesKind:
        return QStringLiteral("BannedNames.txt");
    case AddressesKind:
        return QStringLiteral("BannedIPs.txt");
    default:
        return QStringLiteral("Banned.txt");
    }
}

}  // namespace palisor
