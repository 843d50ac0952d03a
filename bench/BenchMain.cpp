// Runs the benchmarks (five repetitions unless told otherwise) and prints,
// after Google Benchmark's own table, the median times side by side with
// their references and the ratios against the targets.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace wex::bench {
void registerParsingBenchmarks();
void registerOutputBenchmarks();
void registerReceiverBenchmarks();
void registerSenderBenchmarks();
void registerLoadingBenchmarks();
}  // namespace wex::bench

namespace {

// Median times of a benchmark (or those of its only run), in nanoseconds.
struct Times {
  double real = 0;
  double cpu = 0;
};

// Keeps the median times of each benchmark.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      const std::string name = run.run_name.str();
      const Times times{run.GetAdjustedRealTime(), run.GetAdjustedCPUTime()};
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name == "median") {
        medians_[name] = times;
      } else if (run.run_type == Run::RT_Iteration && !medians_.count(name)) {
        medians_[name] = times;
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  const Times* times(const std::string& name) const {
    const auto found = medians_.find(name);
    return found == medians_.end() ? nullptr : &found->second;
  }

 private:
  std::map<std::string, Times> medians_;
};

struct Comparison {
  const char* subject;
  const char* reference;
  double target;  // the ratio to stay at or below; 0 for none
};

// Ratios by CPU time, which a busy machine disturbs least; real time beside.
void printRatios(const MedianReporter& reporter) {
  const Comparison comparisons[] = {
      {"Parse/Mixed/Project", "Parse/Mixed/ALSA", 1.0},
      {"Parse/NoSysex/Project", "Parse/NoSysex/ALSA", 1.0},
      {"Parse/Mixed/Project", "Parse/Mixed/Minimal", 0},
      {"Parse/NoSysex/Project", "Parse/NoSysex/Minimal", 0},
      {"Output/NoSysex/Project", "Output/NoSysex/ALSA", 0.5},
  };
  std::printf("\n%-23s %-22s %10s %10s %6s %10s %10s %6s  %s\n", "median of", "against", "cpu ns",
              "cpu ns", "ratio", "real ns", "real ns", "ratio", "target (cpu)");
  for (const Comparison& c : comparisons) {
    const Times* subject = reporter.times(c.subject);
    const Times* reference = reporter.times(c.reference);
    if (!subject || !reference) continue;
    const double cpuRatio = subject->cpu / reference->cpu;
    char target[32] = "-";
    if (c.target > 0) {
      std::snprintf(target, sizeof target, "<= %.1f %s", c.target,
                    cpuRatio <= c.target ? "met" : "MISSED");
    }
    std::printf("%-23s %-22s %10.0f %10.0f %6.2f %10.0f %10.0f %6.2f  %s\n", c.subject, c.reference,
                subject->cpu, reference->cpu, cpuRatio, subject->real, reference->real,
                subject->real / reference->real, target);
  }
}

bool hasOption(int argc, char** argv, const char* prefix) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=5";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  if (!hasOption(argc, argv, "--benchmark_repetitions")) {
    args.push_back(repetitions);
    args.push_back(aggregatesOnly);
  }
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  wex::bench::registerParsingBenchmarks();
  wex::bench::registerOutputBenchmarks();
  wex::bench::registerReceiverBenchmarks();
  wex::bench::registerSenderBenchmarks();
  wex::bench::registerLoadingBenchmarks();
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printRatios(reporter);
  benchmark::Shutdown();
  return 0;
}
