#include "core/shellutils.h"

#include "core/dialogs.h"
#include "core/error.h"
#include "core/startup.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <limits>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace palisor {
namespace {

// The extension of a file name, its full stop included ("Banned.txt" -> ".txt").
QString extensionOf(const QString& fileName)
{
    const int slash = fileName.lastIndexOf(QLatin1Char('/'));
    const int dot = fileName.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? fileName.mid(dot) : QString();
}

QString filterFor(const QString& extension)
{
    return QStringLiteral("File Type (*%1);;All Files (*.*)").arg(extension);
}

QString suffixOf(const QString& extension)
{
    return extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension;
}

bool isExecutableFile(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    return ::stat(native.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(native.constData(), X_OK) == 0;
}

// Where a program named without a folder is found: Palisor's own folder
// first (the tools shipped beside it win over same-named ones elsewhere),
// then PATH. A name with a folder in it is taken as it stands.
QString locateProgram(const QString& program)
{
    if (program.contains(QLatin1Char('/')))
        return program;
    QStringList folders;
    const QString own = ExecutableFolder();
    if (!own.isEmpty())
        folders << own;
    const QByteArray path = qgetenv("PATH");
    for (const QString& folder : QString::fromLocal8Bit(path).split(QLatin1Char(':')))
        folders << (folder.isEmpty() ? QStringLiteral(".") : folder);
    for (const QString& folder : folders) {
        const QString candidate = QDir(folder).filePath(program);
        if (isExecutableFile(candidate))
            return candidate;
    }
    return {};
}

// The started program begins as if launched afresh: no blocked signals and
// every signal at its default, whatever Palisor or its libraries set up.
class SpawnAttributes {
public:
    explicit SpawnAttributes(bool ownSession)
    {
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attributes_, &none);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF
                                                     | (ownSession ? POSIX_SPAWN_SETSID : 0));
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    const posix_spawnattr_t* get() const { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

class SpawnActions {
public:
    SpawnActions() { posix_spawn_file_actions_init(&actions_); }
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

}  // namespace

void SaveTextFile(const QString& fileName, const QString& text)
{
    QByteArray bytes;
    bytes.reserve(text.size() + text.size() / 16 + 2);
    const QByteArray latin1 = text.toLatin1();
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < latin1.size(); ++i) {
        const char c = latin1[i];
        if (c != '\r' && c != '\n')
            continue;
        bytes.append(latin1.constData() + lineStart, i - lineStart).append("\r\n");
        if (c == '\r' && i + 1 < latin1.size() && latin1[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < latin1.size())
        bytes.append(latin1.constData() + lineStart, latin1.size() - lineStart).append("\r\n");

    // Written beside the target and moved over it only when complete, so a
    // full disk never leaves a half-written export in place of the old one.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        throw Error(QStringLiteral("Cannot create file \"%1\". %2").arg(fileName, file.errorString()));
    if (file.write(bytes) != bytes.size() || !file.commit())
        throw Error(QStringLiteral("Cannot write file \"%1\". %2").arg(fileName, file.errorString()));
}

void SaveTextAs(const QString& suggestedName, const QString& text)
{
    const QString extension = extensionOf(suggestedName);
    FileDialogRequest request;
    request.title = QStringLiteral("Save As");
    request.filter = filterFor(extension);
    request.defaultSuffix = suffixOf(extension);
    request.initialName = suggestedName;
    request.confirmOverwrite = true;
    request.pathMustExist = true;
    request.fileMustExist = false;
    const QString chosen = dialogs().saveFileName(request);
    if (!chosen.isEmpty())
        SaveTextFile(chosen, text);
}

QString ChooseOpenFile(const QString& extension)
{
    FileDialogRequest request;
    request.title = QStringLiteral("Open");
    request.filter = filterFor(extension);
    request.defaultSuffix = suffixOf(extension);
    request.confirmOverwrite = true;
    request.pathMustExist = true;
    request.fileMustExist = true;
    return dialogs().openFileName(request);
}

std::int64_t DigitsOnly(const QString& text)
{
    QString digits;
    for (const QChar c : text)
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
    if (digits.isEmpty())
        return 0;
    constexpr std::int64_t max = std::numeric_limits<std::int64_t>::max();
    std::int64_t value = 0;
    for (const QChar c : digits) {
        const int digit = c.unicode() - '0';
        if (value > (max - digit) / 10)
            throw Error(QStringLiteral("'%1' is not a valid integer value").arg(digits));
        value = value * 10 + digit;
    }
    return value;
}

bool IsTrueText(const QString& text)
{
    if (text.size() != 4)
        return false;
    QString upper = text;
    for (QChar& c : upper)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return upper == QLatin1String("TRUE");
}

QString PadZeros(const QString& text, int width)
{
    if (width <= text.size())
        return text;
    return QString(width - text.size(), QLatin1Char('0')) + text;
}

bool IsControlCharacter(QChar c) { return c.unicode() < 0x20 || (c.unicode() >= 0x7f && c.unicode() < 0xa0); }

QString EscapeControls(const QString& text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\n': result += QStringLiteral("\\n"); break;
        case u'\r': result += QStringLiteral("\\r"); break;
        case u'\t': result += QStringLiteral("\\t"); break;
        default:
            if (IsControlCharacter(c))
                result += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            else
                result += c;
        }
    }
    return result;
}

QString OneLine(const QString& text)
{
    qsizetype end = text.size();
    while (end > 0 && (text[end - 1] == u'\n' || text[end - 1] == u'\r'))
        --end;
    return EscapeControls(text.left(end));
}

namespace {

// Reads the tool's output until it closes it; past the limit the rest is
// read and dropped, so a talkative tool never blocks on a full pipe.
QString collectOutput(int fd)
{
    constexpr qsizetype kLimit = 64 * 1024;
    QByteArray collected;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (collected.size() < kLimit)
            collected.append(buffer, std::min<qsizetype>(got, kLimit - collected.size()));
    }
    return QString::fromLocal8Bit(collected);
}

}  // namespace

int RunAndWait(const QString& commandLine, bool showWindow, QString* output)
{
    const QString failed = QStringLiteral("CREATE PROCESS FAILED:") + commandLine;
    const QStringList words = QProcess::splitCommand(commandLine);
    if (words.isEmpty())
        throw Error(failed);
    const QString program = locateProgram(words.first());
    if (program.isEmpty())
        throw Error(failed);

    std::vector<QByteArray> arguments;
    arguments.reserve(static_cast<std::size_t>(words.size()));
    for (const QString& word : words)
        arguments.push_back(QFile::encodeName(word));
    std::vector<char*> argv;
    for (QByteArray& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const bool collect = output && !showWindow;
    int pipeEnds[2] = {-1, -1};
    if (collect && ::pipe2(pipeEnds, O_CLOEXEC) != 0)
        throw Error(failed);
    SpawnActions actions;
    // A hidden run has no console to read from or print to; its error output
    // is kept (or collected) so that a failing tool can still be diagnosed.
    if (!showWindow) {
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (collect) {
            posix_spawn_file_actions_adddup2(actions.get(), pipeEnds[1], STDOUT_FILENO);
            posix_spawn_file_actions_adddup2(actions.get(), pipeEnds[1], STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        }
    }
    // The child inherits no handles: in particular not the single-instance
    // lock, which must end with Palisor and not with a tool it started.
    posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1);

    const QByteArray path = QFile::encodeName(program);
    const SpawnAttributes attributes(!showWindow);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, path.constData(), actions.get(), attributes.get(), argv.data(), environ);
    if (collect) {
        ::close(pipeEnds[1]);
        if (spawned == 0)
            *output = collectOutput(pipeEnds[0]);
        ::close(pipeEnds[0]);
    }
    if (spawned != 0)
        throw Error(failed);

    int status = 0;
    pid_t waited = 0;
    do {
        waited = ::waitpid(pid, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited != pid)
        throw Error(QStringLiteral("WAIT FAILED:") + commandLine);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace palisor
