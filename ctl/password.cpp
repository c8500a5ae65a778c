#include "ctl/password.h"

#include "core/error.h"

#include <QFile>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace palisor::ctl {

namespace {

QString firstLine(QFile& file)
{
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r'))
        line.chop(1);
    return QString::fromUtf8(line);
}

// Restores the terminal however the reading ends.
class EchoOff {
public:
    EchoOff()
    {
        if (::tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios quiet = saved_;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        on_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff()
    {
        if (on_)
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios saved_{};
    bool on_ = false;
};

QString typed(const char* prompt, QFile& in)
{
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    QString line;
    {
        const EchoOff quiet;
        line = firstLine(in);
    }
    std::fputs("\n", stderr);
    return line;
}

}  // namespace

QString ReadPassword(const QString& fileName)
{
    QFile file;
    if (fileName.isEmpty() || fileName == QLatin1String("-")) {
        if (!file.open(stdin, QIODevice::ReadOnly))
            throw Error(QStringLiteral("Cannot read standard input: ") + file.errorString());
        if (fileName.isEmpty() && ::isatty(STDIN_FILENO)) {
            const QString first = typed("Console password: ", file);
            if (typed("Again: ", file) != first)
                throw Error(QStringLiteral("The two passwords differ; nothing was changed."));
            return first;
        }
        return firstLine(file);
    }
    file.setFileName(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("Cannot read %1: %2").arg(fileName, file.errorString()));
    return firstLine(file);
}

}  // namespace palisor::ctl
