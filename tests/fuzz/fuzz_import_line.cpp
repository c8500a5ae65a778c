// Lines of a banned-list file being imported: the file split into lines and
// each line split into name and address.
#include "core/error.h"
#include "store/banfiles.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const int kind = input.byte() % 5;
    const int nameLength = static_cast<std::int8_t>(input.byte());
    const int addressLength = static_cast<std::int8_t>(input.byte());
    const QStringList lines = SplitImportLines(input.rest());

    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        FUZZ_CHECK(!line.contains(QChar(u'\0')));
        try {
            const ImportFields fields = ParseImportLine(line, kind, nameLength, addressLength);
            FUZZ_CHECK((kind >= NamesKind && kind <= NamesAndAddressesKind) || line.contains(QLatin1Char('\t')));
            FUZZ_CHECK(nameLength < 1 || fields.name.size() <= nameLength);
            FUZZ_CHECK(addressLength < 1 || fields.address.size() <= addressLength);
            FUZZ_CHECK(line.contains(fields.name) && line.contains(fields.address));
        } catch (const Error& e) {
            FUZZ_CHECK(kind < NamesKind || kind > NamesAndAddressesKind);
            FUZZ_CHECK(e.message() == QLatin1String("Import Type not defined"));
        }
    }
    return 0;
}
