#pragma once

#include "service/eventline.h"
#include "service/options.h"

#include <cstdio>

namespace palisor {

// Writes the headless monitor's events, one line each in the chosen format,
// flushed at once so that a pipe or the journal has every line as it happens.
class EventWriter {
public:
    EventWriter(MonitorOptions::LogFormat format, std::FILE* out) : format_(format), out_(out) {}

    // The event now (the product's clock), with its fields in order.
    void write(const QString& event, const QList<std::pair<QString, QVariant>>& fields = {});
    void write(const EventLine& line);
    MonitorOptions::LogFormat format() const { return format_; }

private:
    MonitorOptions::LogFormat format_;
    std::FILE* out_;
};

// True when the file descriptor is the stream systemd connected to the
// journal for this service ($JOURNAL_STREAM, "DEVICE:INODE").
bool IsJournalStream(int fd);

// Writes "PROGRAM: MESSAGE" on standard error, one line. When standard error
// is the journal's stream the line starts with <3>, which the journal takes
// as error priority (the unit's SyslogLevelPrefix=yes) and strips; events on
// standard output keep the journal's default, info.
void WriteError(const char* program, const QString& message);

}  // namespace palisor
