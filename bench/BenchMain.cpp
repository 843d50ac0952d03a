// Runs the benchmarks (ten repetitions, interleaved in random order, unless
// told otherwise) and prints, after Google Benchmark's own table, the median
// times side by side with their references and the ratios against the
// targets. With --instructions it runs each side-by-side pass instead, for
// callgrind to count its instructions (bench/instructions.sh).
#include <benchmark/benchmark.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Passes.h"

namespace wex::bench {
void registerParsingBenchmarks();
void registerOutputBenchmarks();
void registerReceiverBenchmarks();
void registerSenderBenchmarks();
void registerCompositionBenchmarks();
void registerDecodeBenchmarks();
bool decodersAgree();
void registerLoadingBenchmarks();
void registerTickBenchmarks();

namespace {
std::vector<Pass>& passes() {
  static std::vector<Pass> all;
  return all;
}
}  // namespace

void registerPass(Pass pass) {
  passes().push_back(std::move(pass));
}
const std::vector<Pass>& registeredPasses() {
  return passes();
}
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

const Comparison kComparisons[] = {
    {"Parse/Mixed/Project", "Parse/Mixed/ALSA", 0.7},
    {"Parse/NoSysex/Project", "Parse/NoSysex/ALSA", 0.7},
    {"Parse/Sysex/Project", "Parse/Sysex/ALSA", 0.7},
    {"Parse/Single/Project", "Parse/Single/ALSA", 1.3},
    {"Parse/Mixed/Project", "Parse/Mixed/Minimal", 1.5},
    {"Parse/NoSysex/Project", "Parse/NoSysex/Minimal", 1.5},
    {"Parse/Sysex/Project", "Parse/Sysex/Minimal", 0},
    {"Parse/Single/Project", "Parse/Single/Minimal", 0},
    {"Output/NoSysex/Project", "Output/NoSysex/ALSA", 0.3},
    {"Decode/Mixed/Project", "Decode/Mixed/Minimal", 1.3},
};

// Ratios by CPU time, which a busy machine disturbs least; real time beside.
void printRatios(const MedianReporter& reporter) {
  std::printf("\n%-23s %-22s %10s %10s %6s %10s %10s %6s  %s\n", "median of", "against", "cpu ns",
              "cpu ns", "ratio", "real ns", "real ns", "ratio", "target (cpu)");
  for (const Comparison& c : kComparisons) {
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

// Targets in CPU time of their own, where there is no reference to run beside.
struct Limit {
  const char* subject;
  double cpuNanoseconds;
};

const Limit kLimits[] = {
    {"Composition/Tick/50Patches100Connections", 2000},
};

void printLimits(const MedianReporter& reporter) {
  std::printf("\n%-42s %10s  %s\n", "median of", "cpu ns", "target (cpu)");
  for (const Limit& limit : kLimits) {
    const Times* subject = reporter.times(limit.subject);
    if (!subject) continue;
    std::printf("%-42s %10.0f  < %.0f %s\n", limit.subject, subject->cpu, limit.cpuNanoseconds,
                subject->cpu < limit.cpuNanoseconds ? "met" : "MISSED");
  }
}

// What the figures were measured under: the machine's load and the build.
void printConditions(const char* when) {
  double load[3] = {0, 0, 0};
  if (getloadavg(load, 3) < 0) load[0] = load[1] = load[2] = -1;
  std::printf("%s: load %.2f %.2f %.2f; compiled by %s with %s\n", when, load[0], load[1], load[2],
              WEX_BENCH_COMPILER, WEX_BENCH_FLAGS);
}

// The first argument that starts with `prefix`, or null.
const char* option(int argc, char** argv, const char* prefix) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], prefix, std::strlen(prefix)) == 0) return argv[i];
  }
  return nullptr;
}

bool hasOption(int argc, char** argv, const char* prefix) {
  return option(argc, argv, prefix) != nullptr;
}

// Runs each pass once to warm up and then `rounds` times between callgrind
// requests that zero the counts and dump them under the pass's name; prints
// the messages per pass for bench/instructions.sh. Only the passes whose name
// contains `only`, when given (--instructions=Output).
int runPassesForCallgrind(int rounds, const char* only) {
  for (const auto& pass : wex::bench::registeredPasses()) {
    if (pass.name.find(only) == std::string::npos) continue;
    const uint64_t messages = pass.run();
    CALLGRIND_ZERO_STATS;
    for (int i = 0; i < rounds; ++i) pass.run();
    CALLGRIND_DUMP_STATS_AT(pass.name.c_str());
    std::printf(
        "%s %llu\n", pass.name.c_str(),
        static_cast<unsigned long long>(messages) * static_cast<unsigned long long>(rounds));
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  wex::bench::registerParsingBenchmarks();
  wex::bench::registerOutputBenchmarks();
  wex::bench::registerDecodeBenchmarks();
  if (const char* instructions = option(argc, argv, "--instructions")) {
    const char* only = std::strchr(instructions, '=');
    return runPassesForCallgrind(5, only ? only + 1 : "");
  }
  std::vector<char*> args(argv, argv + argc);
  char repetitions[] = "--benchmark_repetitions=10";
  char aggregatesOnly[] = "--benchmark_report_aggregates_only=true";
  char interleaved[] = "--benchmark_enable_random_interleaving=true";
  if (!hasOption(argc, argv, "--benchmark_repetitions")) {
    args.push_back(repetitions);
    args.push_back(aggregatesOnly);
  }
  if (!hasOption(argc, argv, "--benchmark_enable_random_interleaving")) args.push_back(interleaved);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  wex::bench::registerReceiverBenchmarks();
  wex::bench::registerSenderBenchmarks();
  wex::bench::registerCompositionBenchmarks();
  wex::bench::registerLoadingBenchmarks();
  wex::bench::registerTickBenchmarks();
  printConditions("start");
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printConditions("end");
  printRatios(reporter);
  printLimits(reporter);
  std::printf("decode and the minimal decoder print %s text for the mixed stream\n",
              wex::bench::decodersAgree() ? "the same" : "DIFFERENT");
  benchmark::Shutdown();
  return 0;
}
