// Packing messages into packet lists (a sender node with MIDI services that
// drop what is sent) against ALSA's coder writing the same messages as bytes.
#include <alsa/asoundlib.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "AllocationCounter.h"
#include "BenchmarkStreams.h"
#include "MIDIStreams.h"
#include "Passes.h"
#include "SinkMIDIServices.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDINode.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketList.h"

namespace wex::bench {

namespace {

// Data bytes of one packet list: what is left of 1024 bytes after the count
// and one packet header (short events at the same time share a packet).
constexpr size_t kListDataBytes = 1024 - kMIDIPacketListHeaderSize - kMIDIPacketHeaderSize;

// Messages packed per pass: about what a sender sends in a few evaluations,
// few enough to stay in the cache, as freshly made messages are.
constexpr size_t kOutputMessages = 2000;

class CollectingNode final : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    collected.insert(collected.end(), messages.begin(), messages.end());
  }

  OrvMIDIMessageList collected;

 private:
};

// The messages of the stream without sysex, in chunks that fill a list each.
struct OutputInput {
  std::vector<OrvMIDIMessageList> chunks;
  std::vector<std::vector<snd_seq_event_t>> eventChunks;
  size_t messages = 0;
  size_t bytes = 0;
};

std::vector<snd_seq_event_t> eventsOf(const OrvMIDIMessageList& messages) {
  snd_midi_event_t* coder = nullptr;
  snd_midi_event_new(64, &coder);
  std::vector<snd_seq_event_t> events;
  for (const auto& message : messages) {
    Byte bytes[3];
    const size_t length = message->writeWireBytes(bytes);
    snd_seq_event_t event;
    if (snd_midi_event_encode(coder, bytes, static_cast<long>(length), &event) > 0 &&
        event.type != SND_SEQ_EVENT_NONE) {
      events.push_back(event);
    }
  }
  snd_midi_event_free(coder);
  return events;
}

const OutputInput& outputInput() {
  static const OutputInput input = [] {
    CollectingNode parser;
    for (const auto& list : noSysexInput().lists) {
      if (parser.collected.size() >= kOutputMessages) break;
      myMIDIReadProc(asPacketList(list), static_cast<OrvMIDIReadTarget*>(&parser), nullptr);
    }
    OutputInput made;
    OrvMIDIMessageList chunk;
    size_t chunkBytes = 0;
    for (const auto& message : parser.collected) {
      if (chunkBytes + message->wireLength() > kListDataBytes) {
        made.chunks.push_back(std::move(chunk));
        chunk.clear();
        chunkBytes = 0;
      }
      chunk.push_back(message);
      chunkBytes += message->wireLength();
      made.bytes += message->wireLength();
    }
    if (!chunk.empty()) made.chunks.push_back(std::move(chunk));
    for (const auto& messages : made.chunks) made.eventChunks.push_back(eventsOf(messages));
    made.messages = parser.collected.size();
    return made;
  }();
  return input;
}

template <class PackAll>
void runOutput(benchmark::State& state, PackAll packAll) {
  const OutputInput& input = outputInput();
  packAll();  // warms up
  uint64_t allocations = 0;
  for (auto _ : state) {
    const uint64_t before = allocationCount();
    benchmark::DoNotOptimize(packAll());
    allocations += allocationCount() - before;
  }
  const double messages = static_cast<double>(input.messages * state.iterations());
  state.SetBytesProcessed(static_cast<int64_t>(input.bytes * state.iterations()));
  state.counters["msgs"] = static_cast<double>(input.messages);
  state.counters["allocs/msg"] = static_cast<double>(allocations) / messages;
  state.counters["ns/msg"] = benchmark::Counter(
      messages * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// A sender node packing each chunk into its packet list and sending it to
// MIDI services that drop it.
class ProjectPacker {
 public:
  ProjectPacker() : sink_(std::make_shared<SinkMIDIServices>()) {
    installMIDIServices(sink_);
    node_ = OrvMIDINode::initSenderWithEndpoint(sink_->MIDIGetDestination(0));
  }
  ~ProjectPacker() {
    node_.reset();
    installMIDIServices(nullptr);
  }
  ProjectPacker(const ProjectPacker&) = delete;
  ProjectPacker& operator=(const ProjectPacker&) = delete;

  uint64_t pass() {
    const OutputInput& input = outputInput();
    for (const auto& chunk : input.chunks) node_->sendMsgs(chunk);
    benchmark::DoNotOptimize(sink_->lastSent());
    return input.messages;
  }

 private:
  std::shared_ptr<SinkMIDIServices> sink_;
  std::shared_ptr<OrvMIDINode> node_;
};

// ALSA's coder writing the same messages as sequencer events into a list of
// 1024 bytes each.
class AlsaPacker {
 public:
  AlsaPacker() : list_(1024) {
    snd_midi_event_new(64, &coder_);
    snd_midi_event_no_status(coder_, 1);  // every message with its status byte, as the project
  }
  ~AlsaPacker() { snd_midi_event_free(coder_); }
  AlsaPacker(const AlsaPacker&) = delete;
  AlsaPacker& operator=(const AlsaPacker&) = delete;

  uint64_t pass() {
    const OutputInput& input = outputInput();
    long written = 0;
    for (const auto& events : input.eventChunks) {
      long at = 0;
      for (const auto& event : events) {
        const long length = snd_midi_event_decode(coder_, list_.data() + at, 1024 - at, &event);
        if (length > 0) at += length;
      }
      written += at;
    }
    benchmark::DoNotOptimize(written);
    return input.messages;
  }

 private:
  snd_midi_event_t* coder_ = nullptr;
  std::vector<Byte> list_;
};

template <class Packer>
void registerPacker(const char* name) {
  benchmark::RegisterBenchmark(name, [](benchmark::State& state) {
    Packer packer;
    runOutput(state, [&] { return packer.pass(); });
  });
  // Made on first use and kept: only --instructions runs the passes.
  registerPass({name, [] {
                  static Packer* packer = new Packer;
                  return packer->pass();
                }});
}

}  // namespace

void registerOutputBenchmarks() {
  registerPacker<ProjectPacker>("Output/NoSysex/Project");
  registerPacker<AlsaPacker>("Output/NoSysex/ALSA");
}

}  // namespace wex::bench
