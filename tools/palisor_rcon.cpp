// palisor-rcon HOST:PORT PASSWORD COMMAND...
// palisor-rcon --password-file FILE HOST:PORT COMMAND...
// Sends one console command to the game server and prints its reply.

#include "core/error.h"
#include "core/shellutils.h"
#include "rcon/rcon.h"
#include "version.h"

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <optional>

namespace {

const char kUsage[] = "usage: palisor-rcon HOST:PORT PASSWORD COMMAND...\n"
                      "       palisor-rcon --password-file FILE|- HOST:PORT COMMAND...\n"
                      "       PALISOR_RCON_PASSWORD=PASSWORD palisor-rcon HOST:PORT COMMAND...\n";

int usage(const QString& problem)
{
    std::fprintf(stderr, "palisor-rcon: %s\n%s", problem.toLocal8Bit().constData(), kUsage);
    return 2;
}

// The first line of the file ("-": standard input), without its line end.
std::optional<QString> readPasswordFile(const QString& name)
{
    QFile file;
    const bool opened = name == u"-" ? file.open(stdin, QIODevice::ReadOnly)
                                     : (file.setFileName(name), file.open(QIODevice::ReadOnly));
    if (!opened)
        return std::nullopt;
    QString line = QString::fromLocal8Bit(file.readLine());
    while (line.endsWith(u'\n') || line.endsWith(u'\r'))
        line.chop(1);
    return line;
}

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

    // A password on the command line is seen by every local user (ps, /proc);
    // a file, standard input or the environment keep it private.
    std::optional<QString> password;
    if (!args.isEmpty() && (args[0] == u"--password-file" || args[0].startsWith(u"--password-file="))) {
        const bool joined = args[0].contains(u'=');
        if (!joined && args.size() < 2)
            return usage(QStringLiteral("--password-file needs a file"));
        const QString name = joined ? args[0].section(u'=', 1) : args[1];
        args.remove(0, joined ? 1 : 2);
        password = readPasswordFile(name);
        if (!password) {
            std::fprintf(stderr, "palisor-rcon: cannot read the password file %s\n", name.toLocal8Bit().constData());
            return 2;
        }
    } else if (qEnvironmentVariableIsSet("PALISOR_RCON_PASSWORD")) {
        password = qEnvironmentVariable("PALISOR_RCON_PASSWORD");
    }
    const qsizetype firstWord = password ? 1 : 2;
    if (args.size() <= firstWord)
        return usage(password ? QStringLiteral("a server and a command are needed")
                              : QStringLiteral("a server, a password and a command are needed"));

    QString host;
    int port = 0;
    if (!parseAddress(args[0], host, port))
        return usage(QStringLiteral("%1 is no server address: HOST:PORT, the port 1-65535").arg(args[0]));

    Rcon.Host = host;
    Rcon.Port = port;
    Rcon.Password = password ? *password : args[1];
    try {
        print(stdout, Rcon.Command(args.mid(firstWord).join(u' ')));
    } catch (const palisor::Error& e) {
        // The error may carry the server's own text: one line, its controls escaped.
        const QString line = QStringLiteral("palisor-rcon: %1: %2\n").arg(args[0], palisor::OneLine(e.message()));
        std::fputs(line.toLocal8Bit().constData(), stderr);
        return 1;
    }
    return 0;
}
