// QueryVariable's cut of the server's answer to a bare variable name.
#include "rcon/reply.h"
#include "tests/fuzz/fuzzinput.h"

using namespace palisor;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString reply = rcon::assembleReply(
        {QByteArray("\xFF\xFF\xFF\xFF\x01print\n") + QByteArray(reinterpret_cast<const char*>(data),
                                                               static_cast<qsizetype>(size))});
    const QString value = rcon::cutVariableValue(reply);
    FUZZ_CHECK(reply.contains(value));
    // The value of a well-formed answer is exactly what stands between the markers.
    const qsizetype front = reply.indexOf(QStringLiteral("is:\""));
    const qsizetype back = reply.indexOf(QStringLiteral("\" default:"));
    if (front >= 0 && back >= front + 4)
        FUZZ_CHECK(value == reply.mid(front + 4, back - front - 4));
    return 0;
}
