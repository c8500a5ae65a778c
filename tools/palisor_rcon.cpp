// palisor-rcon HOST:PORT PASSWORD COMMAND...
// Sends one console command to the game server and prints its reply.

#include "core/error.h"
#include "rcon/rcon.h"
#include "version.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace {

const char kUsage[] = "usage: palisor-rcon HOST:PORT PASSWORD COMMAND...\n";

// The console's CR LF line ends become the terminal's LF.
void print(std::FILE* stream, QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (!text.isEmpty() && !text.endsWith(u'\n'))
        text += u'\n';
    const QByteArray bytes = text.toLatin1();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
}

// HOST:PORT with a port of 1 to 65535 in decimal digits.
bool parseAddress(const QString& address, QString& host, int& port)
{
    const qsizetype colon = address.lastIndexOf(u':');
    if (colon <= 0)
        return false;
    const QString digits = address.mid(colon + 1);
    if (digits.isEmpty() || digits.size() > 5)
        return false;
    for (const QChar c : digits) {
        if (c < u'0' || c > u'9')
            return false;
    }
    port = digits.toInt();
    host = address.left(colon);
    return port >= 1 && port <= 65535;
}

}  // namespace

int main(int argc, char* argv[])
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLatin1(argv[i]));

    if (args.size() == 1 && (args[0] == u"--help" || args[0] == u"-h")) {
        std::fputs(kUsage, stdout);
        std::fputs("Sends COMMAND (its words joined by blanks) to the game server's remote\n"
                   "console and prints the reply. Exits 1 when the exchange fails.\n",
                   stdout);
        return 0;
    }
    if (args.size() == 1 && (args[0] == u"--version" || args[0] == u"-v")) {
        std::printf("palisor-rcon (%s) %s\n", palisor::ProductName, palisor::ProductVersion);
        return 0;
    }

    QString host;
    int port = 0;
    if (args.size() < 3 || !parseAddress(args[0], host, port)) {
        std::fputs(kUsage, stderr);
        return 2;
    }

    Rcon.Host = host;
    Rcon.Port = port;
    Rcon.Password = args[1];
    try {
        print(stdout, Rcon.Command(args.mid(2).join(u' ')));
    } catch (const palisor::Error& e) {
        print(stderr, e.message());
        return 1;
    }
    return 0;
}
