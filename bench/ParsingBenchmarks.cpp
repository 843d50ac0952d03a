// The project's read callback against ALSA's MIDI coder and a minimal state
// machine, each turning the same packet lists into lists of messages that a
// consumer then reads field by field, so that nothing is optimised away.
#include <alsa/asoundlib.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "AllocationCounter.h"
#include "BenchmarkStreams.h"
#include "MIDIStreams.h"
#include "MinimalMIDIParser.h"
#include "Passes.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketList.h"

namespace wex::bench {

namespace {

// Reads every field of every message delivered, as a receiver would.
class ReadingNode final : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    for (const auto& message : messages) {
      checksum += message->type() + message->channel() + message->data1() + message->data2();
      if (const auto* sysex = message->sysexArray()) checksum += sysex->size();
    }
    delivered += messages.size();
  }

  uint64_t delivered = 0;
  uint64_t checksum = 0;
};

// One pass of each parser over an input; each returns the messages delivered.
class ProjectParser {
 public:
  uint64_t pass(const ParsingInput& input) {
    node_.delivered = 0;
    for (const auto& list : input.lists) {
      myMIDIReadProc(asPacketList(list), static_cast<OrvMIDIReadTarget*>(&node_), nullptr);
    }
    benchmark::DoNotOptimize(node_.checksum);
    return node_.delivered;
  }

 private:
  ReadingNode node_;
};

// ALSA's coder, byte stream to sequencer events; each list's events are
// gathered into a list of their own, with the bytes of sysex events copied out
// of the coder's buffer.
class AlsaParser {
 public:
  AlsaParser() {
    snd_midi_event_new(4096, &coder_);
    events_.reserve(2048);
    sysexBytes_.reserve(1 << 16);
  }
  ~AlsaParser() {
    if (coder_) snd_midi_event_free(coder_);
  }
  AlsaParser(const AlsaParser&) = delete;
  AlsaParser& operator=(const AlsaParser&) = delete;

  uint64_t pass(const ParsingInput& input) {
    uint64_t delivered = 0;
    for (const auto& list : input.lists) {
      events_.clear();
      sysexBytes_.clear();
      MIDIPacketIterator packets(asPacketList(list));
      MIDIPacketView packet;
      while (packets.next(packet)) encode(packet.data, packet.length);
      for (const auto& event : events_) {
        checksum_ +=
            event.type + event.data.raw8.d[0] + event.data.raw8.d[1] + event.data.raw8.d[2];
      }
      delivered += events_.size();
    }
    benchmark::DoNotOptimize(checksum_);
    return delivered;
  }

 private:
  void encode(const Byte* at, long left) {
    while (left > 0) {
      snd_seq_event_t event;
      const long used = snd_midi_event_encode(coder_, at, left, &event);
      if (used <= 0) break;
      at += used;
      left -= used;
      if (event.type == SND_SEQ_EVENT_NONE) continue;
      if (event.type == SND_SEQ_EVENT_SYSEX) {
        const auto* data = static_cast<const Byte*>(event.data.ext.ptr);
        sysexBytes_.insert(sysexBytes_.end(), data, data + event.data.ext.len);
        checksum_ += event.data.ext.len;
      }
      events_.push_back(event);
    }
  }

  snd_midi_event_t* coder_ = nullptr;
  std::vector<snd_seq_event_t> events_;
  std::vector<Byte> sysexBytes_;
  uint64_t checksum_ = 0;
};

class MinimalParser {
 public:
  MinimalParser()
      : messages_(2048),
        sysex_(1 << 16),
        parser_(messages_.data(), messages_.size(), sysex_.data(), sysex_.size()) {}

  uint64_t pass(const ParsingInput& input) {
    uint64_t delivered = 0;
    for (const auto& list : input.lists) {
      parser_.clearOutput();
      MIDIPacketIterator packets(asPacketList(list));
      MIDIPacketView packet;
      while (packets.next(packet)) parser_.parse(packet.data, packet.length);
      for (size_t i = 0; i < parser_.count(); ++i) {
        const MinimalMessage& message = parser_.message(i);
        checksum_ += message.status + message.data1 + message.data2 + message.sysexLength;
      }
      delivered += parser_.count();
    }
    benchmark::DoNotOptimize(checksum_);
    return delivered;
  }

 private:
  std::vector<MinimalMessage> messages_;
  std::vector<Byte> sysex_;
  MinimalMIDIParser parser_;
  uint64_t checksum_ = 0;
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
  state.counters["lists"] = static_cast<double>(input.lists.size());
  state.counters["allocs/msg"] = static_cast<double>(allocations) / messages;
  state.counters["ns/msg"] = benchmark::Counter(
      messages * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

template <class Parser>
void registerParser(const std::string& name, const ParsingInput& (*input)()) {
  benchmark::RegisterBenchmark(name.c_str(), [input](benchmark::State& state) {
    Parser parser;
    runParsing(state, input(), [&] { return parser.pass(input()); });
  });
  auto parser = std::make_shared<Parser>();
  registerPass({name, [parser, input] { return parser->pass(input()); }});
}

void registerParsing(const char* streamName, const ParsingInput& (*input)()) {
  const std::string prefix = std::string("Parse/") + streamName + "/";
  registerParser<ProjectParser>(prefix + "Project", input);
  registerParser<AlsaParser>(prefix + "ALSA", input);
  registerParser<MinimalParser>(prefix + "Minimal", input);
}

}  // namespace

void registerParsingBenchmarks() {
  registerParsing("Mixed", &mixedInput);
  registerParsing("NoSysex", &noSysexInput);
  registerParsing("Sysex", &sysexInput);
  registerParsing("Single", &singleInput);
}

}  // namespace wex::bench
