#pragma once

#include <QDateTime>
#include <functional>

namespace palisor {

// The fixed pauses and the clock of the product, replaceable by tests.
// Defaults: a real blocking sleep and the system's local time.
using PauseFunction = std::function<void(int milliseconds)>;
using ClockFunction = std::function<QDateTime()>;

void pause(int milliseconds);
QDateTime now();

void setPauseFunction(PauseFunction f);   // empty restores the real sleep
void setClockFunction(ClockFunction f);   // empty restores the system clock

}  // namespace palisor
