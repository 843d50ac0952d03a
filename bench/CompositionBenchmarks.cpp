// A running composition fed one message per read callback, as live MIDI
// arrives: what each callback costs the whole process, the wake-up of the
// evaluation thread and its tick included.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "SinkMIDIServices.h"
#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "midi/OrvMIDINode.h"
#include "midi/OrvMIDIReadProc.h"
#include "patches/MIDI_ReceiverPlugIn.h"
#include "patches/WexPatches.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex::bench {

namespace {

std::vector<MIDIPacketListBuffer> controlChangeLists() {
  std::vector<MIDIPacketListBuffer> lists;
  for (Byte value = 0; value < 128; ++value) {
    const Byte bytes[] = {0xB0 /* control change */, 0x07, value};
    lists.emplace_back(64).addPacket(bytes, sizeof bytes);
  }
  return lists;
}

// Argument: microseconds between callbacks. At 0 they come back to back, so
// most find an evaluation already requested; at 200 the evaluation thread is
// asleep at each one and must be woken.
void feedRunningComposition(benchmark::State& state) {
  const auto pause = std::chrono::microseconds(state.range(0));
  auto sink = std::make_shared<SinkMIDIServices>();
  installMIDIServices(sink);
  {
    PlugInRegistry registry;
    registerWexPatches(registry);
    Composition composition(registry);
    auto& receiver =
        dynamic_cast<MIDI_ReceiverPlugIn&>(composition.addPatch("receiver", "MIDI_ReceiverPlugIn"));
    auto node = OrvMIDINode::initReceiverWithEndpoint(7);
    node->setDelegate(&receiver.midiManager());
    const auto lists = controlChangeLists();
    composition.start(60);
    const uint64_t ticksBefore = composition.tickCount();
    size_t i = 0;
    for (auto _ : state) {
      myMIDIReadProc(lists[i++ % lists.size()].list(), static_cast<OrvMIDIReadTarget*>(node.get()),
                     nullptr);
      if (pause.count() > 0) std::this_thread::sleep_for(pause);
    }
    const uint64_t ticks = composition.tickCount() - ticksBefore;
    composition.stop();
    node->setDelegate(nullptr);
    state.counters["ticks/msg"] =
        static_cast<double>(ticks) / static_cast<double>(state.iterations());
  }
  installMIDIServices(nullptr);
}

}  // namespace

void registerCompositionBenchmarks() {
  // CPU time of the whole process: the evaluation thread's share included.
  benchmark::RegisterBenchmark("Composition/OneMessagePerCallback", feedRunningComposition)
      ->Arg(0)
      ->Arg(200)
      ->MeasureProcessCPUTime()
      ->Unit(benchmark::kMicrosecond);
}

}  // namespace wex::bench
