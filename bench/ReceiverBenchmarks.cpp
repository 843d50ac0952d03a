// The receiver patch: its evaluation turning the pending list into the
// structure on its output, and the pending list growing while MIDI keeps
// arriving and the host does not evaluate.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "AllocationCounter.h"
#include "PatchMessages.h"
#include "SinkMIDIServices.h"
#include "midi/OrvMIDINode.h"
#include "midi/OrvMIDIReadProc.h"
#include "patches/MIDI_ReceiverPlugIn.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex::bench {

namespace {

using Receivers = std::vector<std::shared_ptr<MIDI_ReceiverPlugIn>>;

// Messages converted between two pauses of the timer: small pending lists are
// spread over as many patches, so that pausing costs next to nothing.
constexpr size_t kMessagesPerBatch = 1000;

constexpr size_t kBound = MIDI_ReceiverPlugIn::kMaxPendingMessages;
// A saturated 31250-baud link: ten bits a byte, three bytes a message.
constexpr double kSerialLinkMessagesPerSecond = 31250.0 / 10 / 3;
// A fast USB MIDI link: a full 64-byte packet of 16 events every 1 ms frame.
constexpr double kFastUsbMessagesPerSecond = 16000;

Receivers makeReceivers(size_t count) {
  PatchMaker maker;
  Receivers receivers;
  for (size_t i = 0; i < count; ++i) {
    receivers.push_back(maker.make<MIDI_ReceiverPlugIn>("MIDI_ReceiverPlugIn"));
  }
  return receivers;
}

void evaluate(MIDI_ReceiverPlugIn& receiver) {
  QCPlugInContext context;
  receiver.portTable().beginExecution();
  receiver.execute(context, 0, Value());
}

void convertPending(benchmark::State& state) {
  const auto pending = static_cast<size_t>(state.range(0));
  const OrvMIDIMessageList messages = patchMessages(pending);
  auto sink = std::make_shared<SinkMIDIServices>();
  installMIDIServices(sink);
  {
    const Receivers receivers = makeReceivers(std::max<size_t>(1, kMessagesPerBatch / pending));
    uint64_t allocations = 0;
    for (auto _ : state) {
      state.PauseTiming();
      for (const auto& receiver : receivers) receiver->setReceivedMessages(messages);
      state.ResumeTiming();
      const uint64_t before = allocationCount();
      for (const auto& receiver : receivers) evaluate(*receiver);
      allocations += allocationCount() - before;
    }
    const double converted =
        static_cast<double>(pending * receivers.size()) * static_cast<double>(state.iterations());
    state.counters["allocs/msg"] = static_cast<double>(allocations) / converted;
    state.counters["ns/msg"] = benchmark::Counter(
        converted * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
  installMIDIServices(nullptr);
}

// One control change per packet list, as a serial link or a USB cable hands
// them over one at a time.
std::vector<MIDIPacketListBuffer> singleMessageLists() {
  std::vector<MIDIPacketListBuffer> lists;
  for (Byte value = 0; value < 128; ++value) {
    const Byte bytes[] = {0xB0, 0x07, value};
    lists.emplace_back(64).addPacket(bytes, sizeof bytes);
  }
  return lists;
}

// A source node of the receiver's manager, fed as the MIDI services would
// feed it, on the calling thread.
class FedReceiver {
 public:
  FedReceiver(const PatchMaker& maker, MIDIEndpointRef source)
      : receiver(maker.make<MIDI_ReceiverPlugIn>("MIDI_ReceiverPlugIn")),
        node(OrvMIDINode::initReceiverWithEndpoint(source)) {
    if (node) node->setDelegate(&receiver->midiManager());
  }
  ~FedReceiver() {
    if (node) node->setDelegate(nullptr);
  }

  void feed(const std::vector<MIDIPacketListBuffer>& lists, size_t messages) {
    for (size_t i = 0; i < messages; ++i) {
      myMIDIReadProc(lists[i % lists.size()].list(), static_cast<OrvMIDIReadTarget*>(node.get()),
                     nullptr);
    }
  }

  std::shared_ptr<MIDI_ReceiverPlugIn> receiver;
  std::shared_ptr<OrvMIDINode> node;
};

struct BoundMemory {
  double pendingBytesPerMessage = 0;
  double pendingBytes = 0;
  double evaluationPeakBytes = 0;
};

// Measured once: a first receiver filled to the bound takes up whatever free
// blocks the message pool kept from earlier benchmarks, so that the second
// one's messages cost all they cost in a fresh process.
BoundMemory measureBoundMemory(const PatchMaker& maker, MIDIEndpointRef source) {
  const auto lists = singleMessageLists();
  FedReceiver first(maker, source);
  FedReceiver second(maker, source);
  first.feed(lists, kBound);
  BoundMemory memory;
  HeapGrowth growth;
  second.feed(lists, kBound);
  memory.pendingBytes = static_cast<double>(growth.bytes());
  memory.pendingBytesPerMessage = memory.pendingBytes / kBound;
  evaluate(*second.receiver);
  memory.evaluationPeakBytes = static_cast<double>(growth.peakBytes());
  return memory;
}

void growPendingToTheBound(benchmark::State& state) {
  auto sink = std::make_shared<SinkMIDIServices>();
  installMIDIServices(sink);
  {
    PatchMaker maker;
    static const BoundMemory memory = measureBoundMemory(maker, 7);
    const auto lists = singleMessageLists();
    FedReceiver fed(maker, 7);
    uint64_t allocations = 0;
    for (auto _ : state) {
      const uint64_t before = allocationCount();
      fed.feed(lists, kBound);
      allocations += allocationCount() - before;
      state.PauseTiming();
      if (fed.receiver->droppedMessages() != 0) state.SkipWithError("messages dropped");
      fed.receiver->setReceivedMessages({});
      state.ResumeTiming();
    }
    const double received = static_cast<double>(kBound) * static_cast<double>(state.iterations());
    constexpr double kMB = 1024.0 * 1024.0;
    state.counters["allocs/msg"] = static_cast<double>(allocations) / received;
    state.counters["ns/msg"] = benchmark::Counter(
        received * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["msgs/s"] = benchmark::Counter(received, benchmark::Counter::kIsRate);
    state.counters["B/msg"] = memory.pendingBytesPerMessage;
    state.counters["MB@bound"] = memory.pendingBytes / kMB;
    state.counters["peakMB"] = memory.evaluationPeakBytes / kMB;
    state.counters["s@serial"] = kBound / kSerialLinkMessagesPerSecond;
    state.counters["s@fastUSB"] = kBound / kFastUsbMessagesPerSecond;
  }
  installMIDIServices(nullptr);
}

}  // namespace

void registerReceiverBenchmarks() {
  benchmark::RegisterBenchmark("Receiver/Evaluate", convertPending)->Arg(1)->Arg(100)->Arg(10000);
  benchmark::RegisterBenchmark("Receiver/PendingToBound", growPendingToTheBound)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace wex::bench
