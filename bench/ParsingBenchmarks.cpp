// The project's read callback against ALSA's MIDI coder and a minimal state
// machine, each turning the same packet lists into lists of messages.
#include <alsa/asoundlib.h>
#include <benchmark/benchmark.h>

#include <vector>

#include "AllocationCounter.h"
#include "BenchmarkStreams.h"
#include "MIDIStreams.h"
#include "MinimalMIDIParser.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDISysexStateTarget.h"
#include "services/MIDIPacketList.h"

namespace wex::bench {

namespace {

class CountingNode final : public OrvMIDISysexStateTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override { delivered += messages.size(); }

  uint64_t delivered = 0;

 private:
};

template <class ParseAll>
void runParsing(benchmark::State& state, const ParsingInput& input, ParseAll parseAll) {
  const uint64_t messagesPerPass = parseAll();  // also warms up
  uint64_t allocations = 0;
  for (auto _ : state) {
    const uint64_t before = allocationCount();
    benchmark::DoNotOptimize(parseAll());
    allocations += allocationCount() - before;
  }
  const double messages = static_cast<double>(messagesPerPass * state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(input.bytes * state.iterations()));
  state.counters["msgs"] = static_cast<double>(messagesPerPass);
  state.counters["allocs/msg"] = static_cast<double>(allocations) / messages;
  state.counters["ns/msg"] = benchmark::Counter(
      messages * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void parseWithProject(benchmark::State& state, const ParsingInput& input) {
  CountingNode node;
  runParsing(state, input, [&] {
    node.delivered = 0;
    for (const auto& list : input.lists) {
      myMIDIReadProc(asPacketList(list), static_cast<OrvMIDIReadTarget*>(&node), nullptr);
    }
    return node.delivered;
  });
}

// ALSA's coder, byte stream to sequencer events; each list's events are
// gathered into a list of their own, with the bytes of sysex events copied out
// of the coder's buffer.
void parseWithAlsa(benchmark::State& state, const ParsingInput& input) {
  snd_midi_event_t* coder = nullptr;
  if (snd_midi_event_new(4096, &coder) < 0) {
    state.SkipWithError("snd_midi_event_new failed");
    return;
  }
  std::vector<snd_seq_event_t> events;
  events.reserve(2048);
  std::vector<Byte> sysexBytes;
  sysexBytes.reserve(1 << 16);
  runParsing(state, input, [&] {
    uint64_t delivered = 0;
    for (const auto& list : input.lists) {
      events.clear();
      sysexBytes.clear();
      MIDIPacketIterator packets(asPacketList(list));
      MIDIPacketView packet;
      while (packets.next(packet)) {
        const Byte* at = packet.data;
        long left = packet.length;
        while (left > 0) {
          snd_seq_event_t event;
          const long used = snd_midi_event_encode(coder, at, left, &event);
          if (used <= 0) break;
          at += used;
          left -= used;
          if (event.type == SND_SEQ_EVENT_NONE) continue;
          if (event.type == SND_SEQ_EVENT_SYSEX) {
            const auto* data = static_cast<const Byte*>(event.data.ext.ptr);
            sysexBytes.insert(sysexBytes.end(), data, data + event.data.ext.len);
          }
          events.push_back(event);
        }
      }
      delivered += events.size();
    }
    return delivered;
  });
  snd_midi_event_free(coder);
}

void parseWithMinimal(benchmark::State& state, const ParsingInput& input) {
  std::vector<MinimalMessage> messages(2048);
  std::vector<Byte> sysex(1 << 16);
  MinimalMIDIParser parser(messages.data(), messages.size(), sysex.data(), sysex.size());
  runParsing(state, input, [&] {
    uint64_t delivered = 0;
    for (const auto& list : input.lists) {
      parser.clearOutput();
      MIDIPacketIterator packets(asPacketList(list));
      MIDIPacketView packet;
      while (packets.next(packet)) parser.parse(packet.data, packet.length);
      delivered += parser.count();
    }
    return delivered;
  });
}

void registerParsing(const char* streamName, const ParsingInput& (*input)()) {
  const std::string prefix = std::string("Parse/") + streamName + "/";
  benchmark::RegisterBenchmark((prefix + "Project").c_str(),
                               [input](benchmark::State& s) { parseWithProject(s, input()); });
  benchmark::RegisterBenchmark((prefix + "ALSA").c_str(),
                               [input](benchmark::State& s) { parseWithAlsa(s, input()); });
  benchmark::RegisterBenchmark((prefix + "Minimal").c_str(),
                               [input](benchmark::State& s) { parseWithMinimal(s, input()); });
}

}  // namespace

void registerParsingBenchmarks() {
  registerParsing("Mixed", &mixedInput);
  registerParsing("NoSysex", &noSysexInput);
}

}  // namespace wex::bench
