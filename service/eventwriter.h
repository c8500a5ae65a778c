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

}  // namespace palisor
