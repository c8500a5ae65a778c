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
    qsizetype marks = text.count(mark);
    for (const char* name : names) {
        const QString value = input.text(fuzz::kFieldSeparator);
        variables.append(mark + QLatin1String(name) + mark + QLatin1Char('=') + value);
        longestValue = qMax(longestValue, value.size());
        marks += value.count(mark);
    }

    const QString result = SubstituteVariables(text, variables, mark);
    // Every replacement uses up a pair of marks or gives up, so the text can
    // grow only by a bounded number of values.
    FUZZ_CHECK(result.size() <= text.size() + (marks + 2) * longestValue);
    if (text.count(mark) < 2)
        FUZZ_CHECK(result == text);
    return 0;
}
