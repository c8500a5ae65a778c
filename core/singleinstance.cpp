#include "core/singleinstance.h"

#include "core/places.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace palisor {
namespace {
// Longest name the lock is taken under; longer names are cut.
constexpr int MaxNameLength = 103;
}  // namespace

QString SingleInstanceLockPath(const QString& name)
{
    QString fileName = name.left(MaxNameLength);
    fileName.replace(QLatin1Char('/'), QLatin1Char('_'));
    const QString runtime = OwnRuntimeFolder();
    if (!runtime.isEmpty())
        return QDir(runtime).filePath(fileName + QStringLiteral(".lock"));
    // The temporary folder is shared by every user: each keeps a lock of his own.
    return QDir(QDir::tempPath()).filePath(QStringLiteral("%1.%2.lock").arg(fileName).arg(::getuid()));
}

bool CheckSingleInstance(const QString& name)
{
    const QByteArray path = QFile::encodeName(SingleInstanceLockPath(name));
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return true;
    int result = 0;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return true;  // the descriptor stays open: the kernel drops the lock when the process ends
    const bool heldElsewhere = errno == EWOULDBLOCK;
    ::close(fd);
    return !heldElsewhere;
}

}  // namespace palisor
