// The console client's reply from the datagrams the server sent: header
// lines, replies split over datagrams (also mid-line), NULs, line ends.
#include "rcon/reply.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::FuzzInput input(data, size);
    // The first byte chooses the byte that cuts the rest into datagrams, so
    // any other byte value can appear inside a datagram.
    const char separator = static_cast<char>(input.byte());
    const QList<QByteArray> datagrams = input.pieces(separator);
    const QString reply = rcon::assembleReply(datagrams);

    if (reply != QLatin1String(rcon::CommandExecuted)) {
        // A reply is whole lines, each ended by CR LF, and nothing after a NUL.
        FUZZ_CHECK(reply.endsWith(QLatin1String("\r\n")));
        FUZZ_CHECK(!reply.contains(QChar(u'\0')));
        for (qsizetype i = 0; i < reply.size(); ++i) {
            if (reply[i] == u'\r')
                FUZZ_CHECK(i + 1 < reply.size() && reply[i + 1] == u'\n');
            if (reply[i] == u'\n')
                FUZZ_CHECK(i > 0 && reply[i - 1] == u'\r');
        }
        FUZZ_CHECK(rcon::rejoinLines(reply) == reply);
    }
    rcon::refusalOf(reply);
    rcon::cutVariableValue(reply);
    return 0;
}
