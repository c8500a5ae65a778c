#pragma once

// The figures of a benchmark that runs the programs itself, each against its
// limit: printed one per line, and the run fails when any is missed.
#include <cstdio>

namespace palisor::bench {

class Checks {
public:
    // A figure of -1 (a run that failed) misses every limit.
    void atMost(const char* what, double figure, double limit, const char* unit)
    {
        const bool met = figure >= 0 && figure <= limit;
        std::printf("  %-58s %9.3f %-3s (at most %.3f)%s\n", what, figure, unit, limit, met ? "" : "  MISSED");
        missed_ += met ? 0 : 1;
    }

    int exitCode(const char* program) const
    {
        std::printf("%s: %s\n", program, missed_ ? "targets MISSED" : "every target met");
        return missed_ ? 1 : 0;
    }

private:
    int missed_ = 0;
};

}  // namespace palisor::bench
