// One evaluation tick of a composition of 50 patches with 100 connections,
// when no input has changed: what the host itself costs per tick, with no
// patch executing.
#include <benchmark/benchmark.h>

#include <optional>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/QCPropertyPort.h"

namespace wex::bench {

namespace {

constexpr int kPatches = 50;

// A processor summing three numbers.
class SumPlugIn : public QCPlugIn {
 public:
  static AttributeDictionary attributes() {
    return {{QCPlugInAttributeNameKey, Value::string("Sum")}};
  }
  static std::vector<QCPropertyPortDeclaration> propertyPorts() {
    return {{"inputA", QCPortTypeNumber},
            {"inputB", QCPortTypeNumber},
            {"inputC", QCPortTypeNumber},
            {"outputSum", QCPortTypeNumber}};
  }
  static std::optional<AttributeDictionary> attributesForPropertyPortWithKey(const std::string&) {
    return std::nullopt;
  }
  static QCPlugInExecutionMode executionMode() { return QCPlugInExecutionMode::Processor; }

  bool execute(QCPlugInContext&, double, const Value&) override {
    outputSum = inputA() + inputB() + inputC();
    return true;
  }

  QCInputPort<double> inputA{*this, "inputA"};
  QCInputPort<double> inputB{*this, "inputB"};
  QCInputPort<double> inputC{*this, "inputC"};
  QCOutputPort<double> outputSum{*this, "outputSum"};
};

std::string patchId(int i) {
  return "sum" + std::to_string(i);
}

// Each patch takes inputA from the one before it and inputB from the one two
// before; the last three take inputC from three before: 49 + 48 + 3 = 100.
void connectChain(Composition& composition) {
  for (int i = 0; i < kPatches; ++i) composition.addPatch(patchId(i), "SumPlugIn");
  auto connect = [&](int from, int to, const char* input) {
    composition.connect(PortAddress{patchId(from), "outputSum"}, PortAddress{patchId(to), input});
  };
  for (int i = 1; i < kPatches; ++i) connect(i - 1, i, "inputA");
  for (int i = 2; i < kPatches; ++i) connect(i - 2, i, "inputB");
  for (int i = kPatches - 3; i < kPatches; ++i) connect(i - 3, i, "inputC");
}

void tickUnchanged(benchmark::State& state) {
  PlugInRegistry registry;
  registry.registerClass<SumPlugIn>("SumPlugIn");
  Composition composition(registry);
  connectChain(composition);
  composition.setInputValue(PortAddress{patchId(0), "inputA"}, Value::number(1));
  // The first ticks run every patch and carry the values down the chain.
  double time = 0;
  for (int i = 0; i < 3; ++i) composition.evaluate(time += 0.01);
  const auto last = PortAddress{patchId(kPatches - 1), "outputSum"};
  const double settled = composition.outputValue(last).asNumber();
  for (auto _ : state) composition.evaluate(time += 0.01);
  if (composition.outputValue(last).asNumber() != settled) state.SkipWithError("values moved");
  state.counters["connections"] = static_cast<double>(composition.connections().size());
}

}  // namespace

void registerTickBenchmarks() {
  benchmark::RegisterBenchmark("Composition/Tick/50Patches100Connections", tickUnchanged)
      ->Unit(benchmark::kNanosecond);
}

}  // namespace wex::bench
