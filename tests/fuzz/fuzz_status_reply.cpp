// A whole "status" reply: the line cut, the line-count plan and every
// player line examined.
#include "monitor/statusreply.h"
#include "monitor/textrules.h"
#include "rcon/reply.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    // The monitor reads the reply as the console client hands it over.
    const QString reply = rcon::assembleReply({QByteArray("\xFF\xFF\xFF\xFF\x01print\n") + bytes});
    const QStringList lines = SplitLines(reply);
    const StatusPlan plan = PlanStatusReply(lines);

    FUZZ_CHECK(plan.clearPlayers == !lines.isEmpty());
    FUZZ_CHECK(plan.playerLines.size() == (lines.size() >= 5 ? lines.size() - 4 : 0));
    for (const QString& line : plan.playerLines) {
        FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        const PlayerRow row = CutPlayerLine(line);
        FUZZ_CHECK(row.clientId.size() >= 2 && row.ping.size() >= 3 && row.address.size() <= 15);
    }
    return 0;
}
