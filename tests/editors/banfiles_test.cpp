#include "core/error.h"
#include "store/banfiles.h"

#include <gtest/gtest.h>

using namespace palisor;

namespace {

ImportFields Parse(const QString& line, int kind, int nameLength = 40, int addressLength = 16)
{
    return ParseImportLine(line, kind, nameLength, addressLength);
}

void ExpectFields(const ImportFields& fields, const QString& name, const QString& address)
{
    EXPECT_EQ(fields.name, name);
    EXPECT_EQ(fields.address, address);
}

TEST(ParseImportLine, TabLineGivesNameAndAddressWhateverTheKind)
{
    for (int kind : {1, 2, 3, 7}) {
        SCOPED_TRACE(kind);
        ExpectFields(Parse(QStringLiteral("Bob\t10.0.0.7 // banned for camping"), kind), QStringLiteral("Bob"),
                     QStringLiteral("10.0.0.7"));
    }
}

TEST(ParseImportLine, LineWithoutTabFillsTheFieldOfItsKind)
{
    ExpectFields(Parse(QStringLiteral("  Bob // remark"), NamesKind), QStringLiteral("Bob"), QString());
    ExpectFields(Parse(QStringLiteral("10.0.0.7//x"), AddressesKind), QString(), QStringLiteral("10.0.0.7"));
    ExpectFields(Parse(QStringLiteral("Bob"), NamesAndAddressesKind), QStringLiteral("Bob"), QString());
    ExpectFields(Parse(QStringLiteral("Bob\t"), AddressesKind), QStringLiteral("Bob"), QString());
}

TEST(ParseImportLine, RemarkBeforeTheTabStaysInTheNameAndEmptiesTheAddress)
{
    ExpectFields(Parse(QStringLiteral("Bob // old\t10.0.0.7"), NamesAndAddressesKind), QStringLiteral("Bob // old"),
                 QString());
}

TEST(ParseImportLine, BlankAndRemarkLinesGiveNothing)
{
    for (const QString& line : {QString(), QStringLiteral("   "), QStringLiteral("// all remark"),
                                QStringLiteral("\t"), QStringLiteral(" \x01\x1f ")}) {
        const ImportFields fields = Parse(line, NamesKind);
        EXPECT_TRUE(fields.name.isEmpty() && fields.address.isEmpty()) << line.toStdString();
    }
}

TEST(ParseImportLine, TrimsOnlyBlanksAndControlCharacters)
{
    // A non-breaking space (0xA0) and other high bytes belong to a name;
    // TABs inside the address stay.
    const QString line = QString::fromLatin1("\x01 \xA0" "Caf\xE9\xA0 \t \x02" "10.0\t.0.7\x7f \r");
    ExpectFields(Parse(line, NamesAndAddressesKind), QString::fromLatin1("\xA0" "Caf\xE9\xA0"),
                 QString::fromLatin1("10.0\t.0.7\x7f"));
}

TEST(ParseImportLine, CutsFieldsToTheColumnLengths)
{
    const QString longName(60, QLatin1Char('N'));
    const QString longAddress(20, QLatin1Char('9'));
    ExpectFields(Parse(longName + QLatin1Char('\t') + longAddress, NamesAndAddressesKind), longName.left(40),
                 longAddress.left(16));
    ExpectFields(ParseImportLine(longName, NamesKind, 0, 0), longName, QString());
}

TEST(ParseImportLine, UnknownKindFailsOnlyWithoutATab)
{
    try {
        Parse(QStringLiteral("Bob"), 4);
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Import Type not defined"));
    }
    EXPECT_NO_THROW(Parse(QStringLiteral("Bob\t1.2.3.4"), 0));
}

TEST(SplitImportLines, EndsLinesAtCrLfCrOrLfAndStopsAtNul)
{
    const char raw[] = "one\r\ntwo\rthree\n\nfour\r\n\r\nfive\0six\r\n";
    const QByteArray content(raw, sizeof raw - 1);
    EXPECT_EQ(SplitImportLines(content),
              (QStringList{"one", "two", "three", "", "four", "", "five"}));
    EXPECT_EQ(SplitImportLines("last without end"), QStringList{"last without end"});
    EXPECT_TRUE(SplitImportLines(QByteArray()).isEmpty());
}

TEST(SplitImportLines, KeepsEveryByteAsOneCharacter)
{
    QByteArray high;
    for (int b = 0x20; b <= 0xFF; ++b)
        high.append(char(b));
    const QStringList lines = SplitImportLines(high + "\r\n");
    ASSERT_EQ(lines.size(), 1);
    EXPECT_EQ(lines[0].toLatin1(), high);
}

TEST(ImportPlaceholder, IsImportAndTheDayAsMonthDayYear)
{
    EXPECT_EQ(ImportPlaceholder(QDate(2024, 3, 7)), QStringLiteral("IMPORT-03072024"));
    EXPECT_EQ(ImportPlaceholder(QDate(1999, 12, 31)), QStringLiteral("IMPORT-12311999"));
}

TEST(BanForImport, FillsTheMissingHalfWithThePlaceholder)
{
    const ImportFields fields{QStringLiteral("Bob"), QStringLiteral("10.0.0.7")};
    const QString placeholder = QStringLiteral("IMPORT-03072024");
    ExpectFields(BanForImport(fields, NamesKind, placeholder), QStringLiteral("Bob"), placeholder);
    ExpectFields(BanForImport(fields, AddressesKind, placeholder), placeholder, QStringLiteral("10.0.0.7"));
    ExpectFields(BanForImport(fields, NamesAndAddressesKind, placeholder), QStringLiteral("Bob"),
                 QStringLiteral("10.0.0.7"));
    EXPECT_THROW(BanForImport(fields, 0, placeholder), Error);
}

TEST(ExportLine, WritesTheColumnsOfItsKind)
{
    EXPECT_EQ(ExportLine(NamesKind, QStringLiteral("Bob"), QStringLiteral("1.2.3.4")), QStringLiteral("Bob"));
    EXPECT_EQ(ExportLine(AddressesKind, QStringLiteral("Bob"), QStringLiteral("1.2.3.4")), QStringLiteral("1.2.3.4"));
    EXPECT_EQ(ExportLine(NamesAndAddressesKind, QString(), QStringLiteral("1.2.3.4")), QStringLiteral("\t1.2.3.4"));
    try {
        ExportLine(4, QStringLiteral("Bob"), QString());
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.message(), QStringLiteral("Export Type not defined"));
    }
    EXPECT_EQ(ExportFileName(NamesKind), QStringLiteral("BannedNames.txt"));
    EXPECT_EQ(ExportFileName(AddressesKind), QStringLiteral("BannedIPs.txt"));
    EXPECT_EQ(ExportFileName(NamesAndAddressesKind), QStringLiteral("Banned.txt"));
}

}  // namespace
