#include "service/eventwriter.h"

#include "core/timing.h"

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

}  // namespace palisor
