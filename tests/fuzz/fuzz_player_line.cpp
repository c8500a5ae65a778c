// One player line of a "status" reply, as the server sent it.
#include "monitor/statusreply.h"
#include "monitor/textrules.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

namespace {

bool allDigits(const QString& text)
{
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString line = QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const PlayerRow row = CutPlayerLine(line);

    // These land in PLAYERS columns of fixed width and in the "clientkick"
    // command, so their shape must hold whatever the server sends.
    FUZZ_CHECK(row.clientId.size() >= 2 && row.clientId.size() <= 3);
    FUZZ_CHECK(row.ping.size() >= 3 && allDigits(row.ping));
    FUZZ_CHECK(row.address.size() <= 15 && !row.address.contains(QLatin1Char(' ')));
    FUZZ_CHECK(row.name == TrimControls(row.name));
    FUZZ_CHECK(line.contains(row.name) && line.contains(row.address) && line.contains(row.port));
    return 0;
}
