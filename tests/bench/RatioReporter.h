#pragma once
// Prints the runs as usual, then each against a baseline measured in the same run, so that the
// figures read the same on any machine.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zumelko::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // `baseline` is the benchmark the others are divided by; `extra`, when given, adds a column
    // of its own computed from a run's seconds per iteration.
    RatioReporter(std::string baseline, std::string label, std::string ratioHeading, std::string extraHeading = {},
                  std::function<double(double)> extra = {})
        : baseline_(std::move(baseline)), label_(std::move(label)), ratioHeading_(std::move(ratioHeading)),
          extraHeading_(std::move(extraHeading)), extra_(std::move(extra)) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                seconds_[run.run_name.function_name + (run.run_name.args.empty() ? "" : "/" + run.run_name.args)] =
                    run.real_accumulated_time / static_cast<double>(run.iterations);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        const auto base = seconds_.find(baseline_);
        if (base == seconds_.end() || base->second <= 0) return;
        std::printf("\n%-20s %12s %14s\n", label_.c_str(), ratioHeading_.c_str(), extraHeading_.c_str());
        for (const auto& [name, seconds] : seconds_) {
            std::printf("%-20s %12.2f", name.c_str(), seconds / base->second);
            if (extra_) std::printf(" %14.3f", extra_(seconds));
            std::printf("\n");
        }
    }

private:
    std::string baseline_, label_, ratioHeading_, extraHeading_;
    std::function<double(double)> extra_;
    std::map<std::string, double> seconds_;
};

// The usual benchmark main, reporting through `reporter`.
inline int RunBenchmarks(int argc, char** argv, benchmark::BenchmarkReporter& reporter) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}

}  // namespace zumelko::bench
