// The "serverinfo" reply: line normalisation and the look-ups of the
// information boxes.
#include "monitor/serverinfo.h"
#include "monitor/textrules.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    const QString key = input.text(fuzz::kFieldSeparator);
    const QStringList lines = SplitLines(QString::fromLatin1(input.rest()));
    const QStringList normalised = NormaliseServerInfo(lines);

    FUZZ_CHECK(normalised.size() == lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i)
        FUZZ_CHECK(normalised[i].size() <= lines[i].size());

    for (const QString& name : {key, QStringLiteral("sv_hostname"), QStringLiteral("mapname")}) {
        const QString value = ServerInfoValue(normalised, name);
        FUZZ_CHECK(value.isEmpty() || normalised.join(QLatin1Char('\n')).contains(value));
    }
    return 0;
}
