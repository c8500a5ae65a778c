// Announcement variables replaced in a text: the values come from the
// server (its name, game type, maps), the text from the administrator.
#include "monitor/announcements.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const char* const names[] = {"serverip", "servername", "time", "gametype",
                                        "crntmap", "nextmap", "banned", "recent"};
    const QString mark = QStringLiteral("$");
    fuzz::FuzzInput input(data, size);
    const QString text = input.text(fuzz::kFieldSeparator);
    QStringList variables;
    qsizetype longestValue = 0;
    for (const char* name : names) {
        const QString value = input.text(fuzz::kFieldSeparator);
        variables.append(mark + QLatin1String(name) + mark + QLatin1Char('=') + value);
        longestValue = qMax(longestValue, value.size());
    }

    const QString result = SubstituteVariables(text, variables, mark);
    // Every replacement uses up a pair of the administrator's marks or the
    // replacement gives up: marks that the server's values bring in buy no
    // further rounds, so the work stays small whatever the server sends.
    FUZZ_CHECK(result.size() <= text.size() + (text.count(mark) / 2 + 1) * longestValue);
    if (text.count(mark) < 2)
        FUZZ_CHECK(result == text);
    return 0;
}
