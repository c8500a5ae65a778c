#include "core/datafolderlock.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace palisor {
namespace {

int openLockFile(const QByteArray& path)
{
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    // A folder we may only read (another user's service) can still be locked
    // against: the lock needs no write access.
    return fd >= 0 || errno != EACCES ? fd : ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
}

bool lockWithoutWaiting(int fd, bool& heldElsewhere)
{
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    heldElsewhere = result != 0 && errno == EWOULDBLOCK;
    return result == 0;
}

// The holder writes its name and process number as one line.
QString holderOf(int fd)
{
    char text[256];
    const ssize_t length = ::pread(fd, text, sizeof text - 1, 0);
    const QStringList words = QString::fromLocal8Bit(text, length > 0 ? length : 0).trimmed().split(QLatin1Char(' '));
    if (words.size() != 2 || words[0].isEmpty())
        return QStringLiteral("another program");
    return QStringLiteral("%1 (process %2)").arg(words[0], words[1]);
}

}  // namespace

DataFolderLock::~DataFolderLock()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool DataFolderLock::take(const QString& folder, const QString& program)
{
    const QString absolute = QDir(folder).absolutePath();
    const int fd = openLockFile(QFile::encodeName(QDir(absolute).filePath(QString::fromLatin1(FileName))));
    if (fd < 0)
        return true;
    bool heldElsewhere = false;
    if (!lockWithoutWaiting(fd, heldElsewhere)) {
        if (heldElsewhere)
            refusal_ = QStringLiteral("The data folder %1 is in use by %2.").arg(QDir::toNativeSeparators(absolute), holderOf(fd));
        ::close(fd);
        return !heldElsewhere;
    }
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
    const QByteArray line = QStringLiteral("%1 %2\n").arg(program).arg(::getpid()).toLocal8Bit();
    // The name is a courtesy to a refused program; a file opened only for
    // reading locks all the same.
    static_cast<void>(::ftruncate(fd_, 0) == 0 && ::pwrite(fd_, line.constData(), line.size(), 0) > 0);
    return true;
}

}  // namespace palisor
