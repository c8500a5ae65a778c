#include "service/eventwriter.h"

#include "core/shellutils.h"
#include "core/timing.h"

#include <sys/stat.h>
#include <unistd.h>

namespace palisor {

void EventWriter::write(const QString& event, const QList<std::pair<QString, QVariant>>& fields)
{
    write(EventLine{now(), event, fields});
}

void EventWriter::write(const EventLine& line)
{
    const QString text = format_ == MonitorOptions::LogFormat::Json ? JsonEventLine(line) : TextEventLine(line);
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), out_);
    std::fflush(out_);
}

bool IsJournalStream(int fd)
{
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat file {};
    if (stream.isEmpty() || ::fstat(fd, &file) != 0)
        return false;
    return stream == QByteArray::number(static_cast<qulonglong>(file.st_dev)) + ':'
                         + QByteArray::number(static_cast<qulonglong>(file.st_ino));
}

void WriteError(const char* program, const QString& message)
{
    static const bool journal = IsJournalStream(STDERR_FILENO);
    std::fprintf(stderr, "%s%s: %s\n", journal ? "<3>" : "", program, OneLine(message).toLocal8Bit().constData());
    std::fflush(stderr);
}

}  // namespace palisor
