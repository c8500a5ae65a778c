#pragma once

// What the kernel says another process of the machine has used: CPU time
// and resident memory, read from /proc.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>
#include <QString>
#include <unistd.h>

namespace palisor::bench {

// The scheduler's count of the time the process's threads that run now have
// spent on a processor, in seconds, to the nanosecond.
inline double ThreadsCpu(qint64 pid)
{
    double seconds = 0;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks.filePath(task) + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            seconds += double(schedstat.readAll().split(' ').value(0).toLongLong()) / 1e9;
    }
    return seconds;
}

// CPU seconds (user and system) the process has used so far, its ended
// threads included: the kernel's figure in clock ticks. -1 when it is gone.
inline double ProcessCpu(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    // After the command name, in parentheses; utime and stime are the 14th
    // and 15th fields of the whole line.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    return double(fields[11].toLongLong() + fields[12].toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

// Resident memory in MB, or -1.
inline double ResidentMb(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

}  // namespace palisor::bench
