// Runs the registered benchmarks and prints, after them, the ratios of
// chosen pairs measured in the same run: a figure means something only
// against a baseline taken on the same machine at the same moment.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace quilbench {

struct Ratio {
  std::string subject;   // benchmark name
  std::string baseline;  // benchmark name
  std::string meaning;   // what the ratio says, printed with it
  bool throughput;       // true: baseline time / subject time (higher is better); a
                         // "lines_per_second" counter on both sides is used instead of times
};

class RecordingReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const auto& r : runs) {
      if (r.run_type != Run::RT_Iteration) continue;
      times_[r.benchmark_name()] = r.GetAdjustedRealTime();
      const auto rate = r.counters.find("lines_per_second");
      if (rate != r.counters.end()) rates_[r.benchmark_name()] = rate->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  const std::map<std::string, double>& times() const { return times_; }
  const std::map<std::string, double>& rates() const { return rates_; }

 private:
  std::map<std::string, double> times_;
  std::map<std::string, double> rates_;
};

inline int runWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RecordingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  for (const auto& r : ratios) {
    const auto sr = reporter.rates().find(r.subject);
    const auto br = reporter.rates().find(r.baseline);
    if (r.throughput && sr != reporter.rates().end() && br != reporter.rates().end() && br->second > 0) {
      std::printf("ratio %-60s %6.2fx  (%s)\n", (r.subject + " vs " + r.baseline).c_str(), sr->second / br->second,
                  r.meaning.c_str());
      continue;
    }
    const auto s = reporter.times().find(r.subject);
    const auto b = reporter.times().find(r.baseline);
    if (s == reporter.times().end() || b == reporter.times().end() || s->second <= 0 || b->second <= 0) continue;
    const double value = r.throughput ? b->second / s->second : s->second / b->second;
    std::printf("ratio %-60s %6.2fx  (%s)\n", (r.subject + " vs " + r.baseline).c_str(), value, r.meaning.c_str());
  }
  benchmark::Shutdown();
  return 0;
}

// Points the library's settings at a throw-away registry before the first
// trace of the process.
void useTemporarySettings(unsigned logLevel, const std::string& folder);

}  // namespace quilbench
