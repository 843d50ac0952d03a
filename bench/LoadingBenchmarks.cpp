// Loading large composition files: the time should grow about linearly with
// the file (patches, connections, keys of one object).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>

#include "host/CompositionFile.h"
#include "patches/WexPatches.h"

namespace wex::bench {

namespace {

std::string header() {
  return R"({"format": "wexmidi composition", "version": 1, "patches": [)";
}

// `patches` message patches; patch i takes patch i-1's output on one input
// and patch i/2's on another, listed in a shuffled order.
std::string chainedPatches(size_t patches) {
  std::string text = header();
  for (size_t i = 0; i < patches; ++i) {
    text += (i ? ",\n" : "") + std::string(R"({"id": "p)") + std::to_string(i) +
            R"(", "class": "MIDI_MessagePlugIn", "inputs": {"inputChannel": 1}})";
  }
  std::vector<std::string> connections;
  auto connect = [&](size_t from, size_t to, const char* input) {
    connections.push_back(R"({"from": "p)" + std::to_string(from) + R"(.outputMessage", "to": "p)" +
                          std::to_string(to) + "." + input + "\"}");
  };
  for (size_t i = 1; i < patches; ++i) {
    connect(i - 1, i, "inputData1");
    connect(i / 2, i, "inputData2");
  }
  std::shuffle(connections.begin(), connections.end(), std::mt19937(7));
  text += "],\n\"connections\": [";
  for (size_t i = 0; i < connections.size(); ++i) text += (i ? ",\n" : "") + connections[i];
  return text + "]}";
}

// One patch whose structure input is an object of `keys` keys.
std::string objectOfKeys(size_t keys) {
  std::string text =
      header() +
      R"({"id": "notes", "class": "MIDI_NoteDistributorPlugIn", "inputs": {"inputMessages": {)";
  for (size_t i = 0; i < keys; ++i) {
    text += (i ? ", \"k" : "\"k") + std::to_string(i) + "\": " + std::to_string(i);
  }
  return text + "}}}]}";
}

void load(benchmark::State& state, const std::string& text) {
  PlugInRegistry registry;
  registerWexPatches(registry);
  for (auto _ : state) {
    auto composition = CompositionFile::parse(text, "bench.json", registry);
    benchmark::DoNotOptimize(composition.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(text.size() * state.iterations()));
}

void loadPatches(benchmark::State& state) {
  load(state, chainedPatches(static_cast<size_t>(state.range(0))));
  state.counters["connections"] = static_cast<double>(2 * (state.range(0) - 1));
}

void loadObjectKeys(benchmark::State& state) {
  load(state, objectOfKeys(static_cast<size_t>(state.range(0))));
}

}  // namespace

void registerLoadingBenchmarks() {
  benchmark::RegisterBenchmark("Load/Patches", loadPatches)
      ->Arg(1000)
      ->Arg(2000)
      ->Arg(4000)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
  benchmark::RegisterBenchmark("Load/ObjectKeys", loadObjectKeys)
      ->Arg(25000)
      ->Arg(50000)
      ->Arg(100000)
      ->Unit(benchmark::kMillisecond)
      ->Iterations(1);
}

}  // namespace wex::bench
