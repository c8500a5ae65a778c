#pragma once

// Google Benchmark binaries that fail when a target is missed: the runs are
// collected as they are printed, then each target compares the figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace palisor::bench {

class TargetReporter : public benchmark::ConsoleReporter {
public:
    TargetReporter() : ConsoleReporter(OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && !run.error_occurred)
                runs_[run.benchmark_name()] = run;
    }

    // Milliseconds of one iteration, CPU or real time; negative when the
    // benchmark did not run (filtered out or failed).
    double milliseconds(const std::string& name, bool cpu) const
    {
        const auto it = runs_.find(name);
        if (it == runs_.end())
            return -1;
        const Run& run = it->second;
        const double time = cpu ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        return time * 1000.0 / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }

    // A figure against its limit; a benchmark that did not run is not judged.
    void atMost(const char* what, double figure, double limit, const char* unit)
    {
        if (figure < 0)
            return;
        const bool met = figure <= limit;
        std::printf("target: %-52s %10.3f %-2s (at most %.3f)%s\n", what, figure, unit, limit, met ? "" : "  MISSED");
        missed_ += met ? 0 : 1;
    }

    void ratioAtMost(const char* what, double figure, double base, double limit)
    {
        if (figure < 0 || base <= 0)
            return;
        atMost(what, figure / base, limit, "x");
    }

    int exitCode() const
    {
        std::printf("%s\n", missed_ ? "targets MISSED" : "every target met");
        return missed_ ? 1 : 0;
    }

private:
    std::map<std::string, Run> runs_;
    int missed_ = 0;
};

}  // namespace palisor::bench
