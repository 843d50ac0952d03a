// The sender patch's evaluation: decoding a structure of message values and
// sending each message to its destination (MIDI services that drop what is
// sent), with "Resend" on so that every evaluation sends the whole structure.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "AllocationCounter.h"
#include "PatchMessages.h"
#include "SinkMIDIServices.h"
#include "host/Structure.h"
#include "patches/MIDI_SenderPlugIn.h"
#include "patches/MessageValue.h"

namespace wex::bench {

namespace {

Value messageStructure(size_t count) {
  std::vector<Value> values;
  for (const auto& message : patchMessages(count)) values.push_back(MessageValue::write(*message));
  return Value::structure(Structure::makeList(std::move(values)));
}

void sendStructure(benchmark::State& state) {
  const auto count = static_cast<size_t>(state.range(0));
  auto sink = std::make_shared<SinkMIDIServices>();
  installMIDIServices(sink);
  {
    auto sender = PatchMaker().make<MIDI_SenderPlugIn>("MIDI_SenderPlugIn");
    sender->portTable().setInputValue("inputMessages", messageStructure(count));
    sender->portTable().setInputValue("inputResend", Value::boolean(true));
    QCPlugInContext context;
    uint64_t allocations = 0;
    for (auto _ : state) {
      const uint64_t before = allocationCount();
      sender->portTable().beginExecution();
      sender->execute(context, 0, Value());
      allocations += allocationCount() - before;
    }
    if (!sink->lastSent()) state.SkipWithError("nothing sent");
    const double sent = static_cast<double>(count) * static_cast<double>(state.iterations());
    state.counters["allocs/msg"] = static_cast<double>(allocations) / sent;
    state.counters["ns/msg"] =
        benchmark::Counter(sent * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  }
  installMIDIServices(nullptr);
}

}  // namespace

void registerSenderBenchmarks() {
  benchmark::RegisterBenchmark("Sender/Evaluate", sendStructure)->Arg(1)->Arg(100)->Arg(10000);
}

}  // namespace wex::bench
