// The display form of the server's map name.
#include "monitor/serverinfo.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const QString aliasName = input.text(fuzz::kFieldSeparator);
    const QString aliasValue = input.text(fuzz::kFieldSeparator);
    const QString rawName = QString::fromLatin1(input.rest());

    QString looked;
    const MapAliasLookup alias = [&](const QString& name) {
        looked = name;
        return name.compare(aliasName, Qt::CaseInsensitive) == 0 ? aliasValue : name;
    };
    const QString shown = ShortMapName(rawName, alias);
    // Only pieces are taken away before the alias is looked up.
    FUZZ_CHECK(looked.size() <= rawName.size());
    FUZZ_CHECK(shown == (looked.compare(aliasName, Qt::CaseInsensitive) == 0 ? aliasValue : looked));
    return 0;
}
