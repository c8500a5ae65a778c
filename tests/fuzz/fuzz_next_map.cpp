// The next map from the server's rotation variables: the sv_maplist walk
// and the "vstr" rotation, all of it text the server sends.
#include "monitor/serverinfo.h"
#include "tests/fuzz/fuzzinput.h"

#include <QHash>

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const QString currentMap = input.text(fuzz::kFieldSeparator);
    const QString mapList = input.text(fuzz::kFieldSeparator);
    QHash<QString, QString> variables;
    variables.insert(QStringLiteral("sv_maplist"), mapList);
    if (input.byte() & 1)
        variables.insert(QStringLiteral("nextmap"), input.text(fuzz::kFieldSeparator));
    while (!input.empty()) {
        const QString name = input.text(fuzz::kFieldSeparator);
        variables.insert(name, input.text(fuzz::kFieldSeparator));
    }

    // Each step cuts the list to a piece of itself, so a second call (the
    // rotation wrapping past the current map) continues from there.
    QString list = mapList;
    const QString next = NextInMapList(list, currentMap);
    FUZZ_CHECK(mapList.contains(list) && mapList.contains(next));
    const QString after = NextInMapList(list, currentMap);
    FUZZ_CHECK(mapList.contains(list) && mapList.contains(after));

    int reads = 0;
    const VariableReader read = [&](const QString& name) {
        ++reads;
        return variables.value(name);
    };
    const MapAliasLookup alias = [](const QString& name) { return name; };
    NextMapName(currentMap, read, alias);
    // One exchange with the server per rotation variable, never a loop of them.
    FUZZ_CHECK(reads <= 2);
    return 0;
}
