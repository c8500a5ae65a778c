#include "store/letgo.h"

#include "core/datafiles.h"
#include "store/datapalisor.h"
#include "store/livetable.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace palisor {
namespace {

QByteArray markPath(const QString& dataFolder)
{
    return QFile::encodeName(QDir(dataFolder).filePath(QString::fromLatin1(CycleMark::FileName)));
}

int lockOnce(int fd, int operation)
{
    int result = 0;
    do {
        result = ::flock(fd, operation | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

CycleMark::CycleMark(const QString& dataFolder) : path_(QDir(dataFolder).absolutePath()) {}

CycleMark::~CycleMark() { release(); }

bool CycleMark::take()
{
    if (fd_ >= 0)
        return true;
    // The file stays between cycles; a program on the folder may read it
    // at any moment, so it has the folder's mode.
    const int fd = ::open(markPath(path_).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, DataFileMode(path_));
    if (fd < 0)
        return false;
    // Another program looking whether a cycle runs holds the file shared
    // for a moment; only a cycle holds it longer.
    for (int attempt = 0; attempt < 50; ++attempt) {
        if (lockOnce(fd, LOCK_EX) == 0) {
            fd_ = fd;
            return true;
        }
        if (errno != EWOULDBLOCK)
            break;
        QThread::msleep(10);
    }
    ::close(fd);
    return false;
}

void CycleMark::release()
{
    if (fd_ < 0)
        return;
    ::close(fd_);
    fd_ = -1;
}

bool CycleMark::Running(const QString& dataFolder)
{
    const int fd = ::open(markPath(dataFolder).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return false;
    const bool running = lockOnce(fd, LOCK_SH) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return running;
}

LetGoWatch::LetGoWatch(TDataPalisor& data, std::function<void()> comeBack, QObject* parent)
    : QObject(parent), data_(data), comeBack_(std::move(comeBack))
{
    backTimer_.setInterval(BackCheckMs);
    connect(&backTimer_, &QTimer::timeout, this, &LetGoWatch::tryComingBack);
    connect(&data_, &TDataPalisor::notified, this, &LetGoWatch::heard);
    // Connected (again) as a cycle begins, the attachment may have missed
    // its request: it looks for itself once the work that connected it is
    // done.
    connect(&data_, &TDataPalisor::attached, this, [this] { heard(QLatin1String(LetGoEvent)); },
            Qt::QueuedConnection);
    data_.Listen({QLatin1String(LetGoEvent)});
}

void LetGoWatch::heard(const QString& name)
{
    // Also when away: connected again meanwhile by its owner's own work (the
    // engine re-reading the lists after a list window closed, say), the
    // attachment lets go again.
    if (name != QLatin1String(LetGoEvent) || held_ || !data_.isConnected())
        return;
    // Heard late, after the cycle has ended (its own, say): nothing to do.
    if (!CycleMark::Running(data_.dataFolder()))
        return;
    for (const LiveTable* table : data_.tables()) {
        const LiveTable::State state = table->state();
        if (state == LiveTable::State::Edit || state == LiveTable::State::Insert)
            return;
    }
    try {
        data_.DisconnectDatabase();
    } catch (const std::exception&) {
        // Nothing was pending (every change is committed when made); the
        // connection has ended all the same.
    }
    away_ = true;
    emit letGo();
    backTimer_.start();
}

void LetGoWatch::tryComingBack()
{
    if (CycleMark::Running(data_.dataFolder()))
        return;
    try {
        comeBack_();
    } catch (const std::exception&) {
        // The file is not back yet; the next look tries again.
        return;
    }
    backTimer_.stop();
    away_ = false;
    emit cameBack();
}

}  // namespace palisor
