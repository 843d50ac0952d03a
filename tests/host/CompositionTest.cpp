#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <thread>

#include "TestPatches.h"
#include "host/Composition.h"
#include "host/Structure.h"

namespace wex {
namespace {

using test::AdderPlugIn;
using test::CounterPlugIn;
using test::DynamicPlugIn;
using test::ExecutionLog;
using test::RecorderPlugIn;

class CompositionTest : public ::testing::Test {
 protected:
  CompositionTest() {
    test::registerTestPatches(registry_);
    ExecutionLog::instance().take();
  }

  template <class T>
  T& add(const std::string& id, const std::string& className) {
    auto& patch = dynamic_cast<T&>(composition_.addPatch(id, className));
    patch.setLogName(id);
    return patch;
  }
  void connect(const std::string& from, const std::string& to) {
    PortAddress source, target;
    ASSERT_TRUE(PortAddress::parse(from, &source));
    ASSERT_TRUE(PortAddress::parse(to, &target));
    composition_.connect(source, target);
  }
  void set(const std::string& input, const Value& value) {
    PortAddress address;
    ASSERT_TRUE(PortAddress::parse(input, &address));
    composition_.setInputValue(address, value);
  }
  Value output(const std::string& output) {
    PortAddress address;
    PortAddress::parse(output, &address);
    return composition_.outputValue(address);
  }
  Value input(const std::string& input) {
    PortAddress address;
    PortAddress::parse(input, &address);
    return composition_.inputValue(address);
  }

  PlugInRegistry registry_;
  Composition composition_{registry_};
};

TEST_F(CompositionTest, PatchesRunInTopologicalOrderWhateverOrderTheyWereAddedIn) {
  add<RecorderPlugIn>("sink", "RecorderPlugIn");
  add<AdderPlugIn>("second", "AdderPlugIn");
  add<AdderPlugIn>("first", "AdderPlugIn");
  add<CounterPlugIn>("source", "CounterPlugIn");
  connect("second.outputSum", "sink.inputValue");
  connect("first.outputSum", "second.inputA");
  connect("source.outputCount", "first.inputA");

  composition_.evaluate(0);
  EXPECT_EQ(ExecutionLog::instance().take(),
            (std::vector<std::string>{"source", "first", "second", "sink"}));
}

TEST_F(CompositionTest, ProvidersAndConsumersRunEveryTickProcessorsOnlyWhenAnInputChanged) {
  auto& counter = add<CounterPlugIn>("counter", "CounterPlugIn");
  auto& idle = add<AdderPlugIn>("idle", "AdderPlugIn");
  auto& recorder = add<RecorderPlugIn>("recorder", "RecorderPlugIn");
  for (int tick = 0; tick < 3; ++tick) composition_.evaluate(tick);
  EXPECT_EQ(counter.executions, 3);
  EXPECT_EQ(idle.executions, 1) << "a processor runs on its first tick only when nothing changes";
  EXPECT_EQ(recorder.executions, 3);

  set("idle.inputB", Value::number(2));
  composition_.evaluate(3);
  composition_.evaluate(4);
  EXPECT_EQ(idle.executions, 2);
  EXPECT_EQ(output("idle.outputSum"), Value::number(2));
}

TEST_F(CompositionTest, ChangeTrackingReportsOnlyTheInputsChangedSinceThePatchRanLast) {
  auto& adder = add<AdderPlugIn>("adder", "AdderPlugIn");
  composition_.evaluate(0);
  EXPECT_EQ(adder.lastChanged(), "inputA,inputB,inputLevel,inputGate")
      << "every input counts as changed on the first execution";

  set("adder.inputB", Value::number(5));
  composition_.evaluate(1);
  EXPECT_EQ(adder.lastChanged(), "inputB");

  set("adder.inputB", Value::number(5));
  composition_.evaluate(2);
  EXPECT_EQ(adder.executions, 2) << "setting the same value again is no change";

  set("adder.inputA", Value::number(1));
  set("adder.inputGate", Value::boolean(true));
  composition_.evaluate(3);
  EXPECT_EQ(adder.lastChanged(), "inputA,inputGate");
  EXPECT_EQ(output("adder.outputSum"), Value::number(6));
}

TEST_F(CompositionTest, AConnectedInputChangesWheneverItsSourceIsAssignedEvenToAnEqualValue) {
  auto& dynamic = add<DynamicPlugIn>("dynamic", "DynamicPlugIn");
  dynamic.setPortCount(1);
  auto& recorder = add<RecorderPlugIn>("recorder", "RecorderPlugIn");
  connect("dynamic.out0", "recorder.inputValue");

  set("dynamic.in0", Value::number(7));
  composition_.evaluate(0);
  composition_.evaluate(1);  // nothing new: dynamic does not run, no assignment
  set("dynamic.in0", Value::number(8));
  composition_.evaluate(2);
  EXPECT_EQ(recorder.changed(), (std::vector<bool>{true, false, true}));
  EXPECT_EQ(recorder.seen(),
            (std::vector<Value>{Value::number(7), Value::number(7), Value::number(8)}));
}

// Every kind of graph change recompiles the feeds: each step changes the
// graph, assigns sources, ticks, and checks what every input then holds.
TEST_F(CompositionTest, AfterEveryKindOfGraphChangeEachInputIsFedFromItsOwnSource) {
  auto& dynamic = add<DynamicPlugIn>("d", "DynamicPlugIn");
  dynamic.setPortCount(2);
  add<AdderPlugIn>("a", "AdderPlugIn");
  add<AdderPlugIn>("b", "AdderPlugIn");
  add<AdderPlugIn>("s", "AdderPlugIn");
  auto& recorder = add<RecorderPlugIn>("r", "RecorderPlugIn");
  connect("d.out1", "a.inputA");
  connect("s.outputSum", "r.inputValue");
  struct Step {
    const char* change;
    std::function<void()> apply;
    std::vector<std::pair<const char*, double>> sources;   // inputs set before the tick
    std::vector<std::pair<const char*, double>> expected;  // inputs checked after it
  };
  const std::vector<Step> steps{
      {"the first connections",
       [] {},
       {{"s.inputA", 1}, {"d.in1", 5}},
       {{"r.inputValue", 1}, {"a.inputA", 5}}},
      {"ports added, as learning adds them",
       [&] { dynamic.setPortCount(4); },
       {{"d.in1", 6}, {"d.in3", 7}},
       {{"a.inputA", 6}, {"r.inputValue", 1}}},
      {"a connection to an added port",
       [&] { connect("d.out3", "b.inputB"); },
       {{"d.in3", 8}},
       {{"b.inputB", 8}, {"a.inputA", 6}}},
      {"a patch added and connected",
       [&] {
         add<AdderPlugIn>("c", "AdderPlugIn");
         connect("a.outputSum", "c.inputB");
       },
       {{"d.in1", 2}},
       {{"a.inputA", 2}, {"c.inputB", 2}}},
      {"an input disconnected",
       [&] {
         composition_.disconnect({"a", "inputA"});
       },
       {{"d.in1", 9}},
       {{"a.inputA", 2}}},
      {"the input connected to another output",
       [&] { connect("d.out2", "a.inputA"); },
       {{"d.in2", 3}},
       {{"a.inputA", 3}, {"c.inputB", 3}}},
      {"a patch removed",
       [&] { composition_.removePatch("c"); },
       {{"d.in3", 4}, {"d.in2", 11}},
       {{"b.inputB", 4}, {"a.inputA", 11}}},
      {"ports removed under a connection",
       [&] { dynamic.setPortCount(3); },
       {{"d.in2", 12}},
       {{"a.inputA", 12}, {"b.inputB", 4}}},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.change);
    step.apply();
    for (const auto& [input, value] : step.sources) set(input, Value::number(value));
    composition_.evaluate(0);
    for (const auto& [in, value] : step.expected) EXPECT_EQ(input(in), Value::number(value)) << in;
  }
  // The recorder's source was assigned once, in the first step: no graph
  // change fed it again.
  const auto changed = recorder.changed();
  ASSERT_EQ(changed.size(), steps.size());
  EXPECT_EQ(std::count(changed.begin(), changed.end(), true), 1);
}

struct ConversionCase {
  const char* name;
  Value sent;
  const char* input;
  Value expected;
};

class ConnectionConversionTest : public CompositionTest,
                                 public ::testing::WithParamInterface<ConversionCase> {};

TEST_P(ConnectionConversionTest, AValueReachingAnInputTakesTheInputsType) {
  auto& dynamic = add<DynamicPlugIn>("source", "DynamicPlugIn");
  dynamic.setPortCount(1);
  add<AdderPlugIn>("target", "AdderPlugIn");
  // source.out0 is an index output; its value is set directly so that every
  // kind of value can be sent.
  dynamic.portTable().setOutputValue("out0", GetParam().sent);
  connect("source.out0", std::string("target.") + GetParam().input);
  composition_.evaluate(0);
  EXPECT_EQ(input(std::string("target.") + GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Conversions, ConnectionConversionTest,
    ::testing::Values(
        ConversionCase{"IndexToNumber", Value::index(9452644), "inputA", Value::number(9452644)},
        ConversionCase{"IndexToBoolean", Value::index(2), "inputGate", Value::boolean(true)},
        ConversionCase{"ZeroToBoolean", Value::index(0), "inputGate", Value::boolean(false)},
        ConversionCase{"IndexClampedToMaximum", Value::index(300), "inputLevel", Value::index(127)},
        ConversionCase{"IndexWithinMaximum", Value::index(100), "inputLevel", Value::index(100)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CompositionTest, NumbersAndBooleansConvertToIndexesWithinTheMaximum) {
  const struct {
    Value value;
    Value expected;
  } cases[] = {{Value::number(12.9), Value::index(12)},
               {Value::number(-4), Value::index(0)},
               {Value::number(1e30), Value::index(127)},
               {Value::boolean(true), Value::index(1)},
               {Value::number(std::nan("")), Value::index(0)}};
  add<AdderPlugIn>("adder", "AdderPlugIn");
  for (const auto& item : cases) {
    set("adder.inputLevel", item.value);
    EXPECT_EQ(input("adder.inputLevel"), item.expected);
  }
}

TEST_F(CompositionTest, ASetOfAnInputWithAValueOfAnotherKindIsRefused) {
  add<AdderPlugIn>("adder", "AdderPlugIn");
  add<RecorderPlugIn>("recorder", "RecorderPlugIn");
  PortAddress address{"adder", "inputA"};
  EXPECT_THROW(composition_.setInputValue(address, Value::string("5")), CompositionError);
  EXPECT_THROW(composition_.setInputValue({"recorder", "inputText"}, Value::number(1)),
               CompositionError);
  EXPECT_THROW(composition_.setInputValue({"adder", "inputNone"}, Value::number(1)),
               CompositionError);
  EXPECT_THROW(composition_.setInputValue({"nobody", "inputA"}, Value::number(1)),
               CompositionError);
}

TEST_F(CompositionTest, ConnectionsThatCloseACycleAreRefusedNamingTheCycle) {
  add<AdderPlugIn>("a", "AdderPlugIn");
  add<AdderPlugIn>("b", "AdderPlugIn");
  add<AdderPlugIn>("c", "AdderPlugIn");
  connect("a.outputSum", "b.inputA");
  connect("b.outputSum", "c.inputA");
  try {
    composition_.connect({"c", "outputSum"}, {"a", "inputA"});
    FAIL() << "the cycle was accepted";
  } catch (const CompositionError& error) {
    EXPECT_NE(std::string(error.what()).find("a -> b -> c -> a"), std::string::npos)
        << error.what();
  }
  EXPECT_THROW(composition_.connect({"a", "outputSum"}, {"a", "inputB"}), CompositionError);
  EXPECT_EQ(composition_.connections().size(), 2u);
}

TEST_F(CompositionTest, ConnectionsToMissingPortsOrTakenInputsOrOtherKindsAreRefused) {
  add<AdderPlugIn>("a", "AdderPlugIn");
  add<RecorderPlugIn>("r", "RecorderPlugIn");
  connect("a.outputSum", "r.inputValue");
  EXPECT_THROW(composition_.connect({"a", "outputSum"}, {"r", "inputValue"}), CompositionError)
      << "an input takes one connection";
  EXPECT_THROW(composition_.connect({"a", "outputSum"}, {"r", "inputText"}), CompositionError);
  EXPECT_THROW(composition_.connect({"a", "outputNone"}, {"r", "inputValue"}), CompositionError);
  EXPECT_THROW(composition_.connect({"a", "inputA"}, {"r", "inputValue"}), CompositionError)
      << "an input is no source";
  EXPECT_THROW(composition_.connect({"x", "outputSum"}, {"r", "inputValue"}), CompositionError);
}

TEST_F(CompositionTest, PatchIdsMustBeUniqueAndClassesKnown) {
  add<AdderPlugIn>("a", "AdderPlugIn");
  EXPECT_THROW(composition_.addPatch("a", "AdderPlugIn"), CompositionError);
  EXPECT_THROW(composition_.addPatch("b", "NoSuchPlugIn"), CompositionError);
  EXPECT_THROW(composition_.addPatch("b.c", "AdderPlugIn"), CompositionError);
  EXPECT_THROW(composition_.addPatch("", "AdderPlugIn"), CompositionError);
  EXPECT_EQ(composition_.patchIds(), std::vector<std::string>{"a"});
}

TEST_F(CompositionTest, TheHostRefusesDuplicateMissingAndPropertyPortOperations) {
  auto& adder = add<AdderPlugIn>("adder", "AdderPlugIn");
  const AttributeDictionary named{{QCPortAttributeNameKey, Value::string("X")}};
  adder.addOutputPortWithType(QCPortTypeIndex, "extra", named);
  EXPECT_THROW(adder.addOutputPortWithType(QCPortTypeIndex, "extra", named), QCPlugInHostException);
  EXPECT_THROW(adder.addInputPortWithType(QCPortTypeIndex, "extra", named), QCPlugInHostException)
      << "keys are unique across directions";
  EXPECT_THROW(adder.addInputPortWithType(QCPortTypeIndex, "inputA", named), QCPlugInHostException);
  EXPECT_THROW(adder.removeInputPortForKey("inputA"), QCPlugInHostException)
      << "property ports cannot be removed";
  EXPECT_THROW(adder.removeInputPortForKey("extra"), QCPlugInHostException) << "extra is an output";
  EXPECT_THROW(adder.setValueForOutputKey(Value::index(1), "missing"), QCPlugInHostException);
  EXPECT_THROW(adder.setValueForOutputKey(Value::string("x"), "extra"), QCPlugInHostException);
  adder.removeOutputPortForKey("extra");
  EXPECT_THROW(adder.removeOutputPortForKey("extra"), QCPlugInHostException);
  EXPECT_THROW(adder.setValueForOutputKey(Value::index(1), "extra"), QCPlugInHostException);
  EXPECT_TRUE(adder.valueForInputKey("missing").isNone());
  EXPECT_FALSE(adder.didValueForInputKeyChange("missing"));
}

TEST_F(CompositionTest, RemovingADynamicPortRemovesItsConnections) {
  auto& dynamic = add<DynamicPlugIn>("d", "DynamicPlugIn");
  dynamic.setPortCount(3);
  add<RecorderPlugIn>("r", "RecorderPlugIn");
  add<AdderPlugIn>("a", "AdderPlugIn");
  add<AdderPlugIn>("b", "AdderPlugIn");
  connect("d.out2", "r.inputValue");
  connect("a.outputSum", "d.in2");
  connect("d.out0", "b.inputA");
  dynamic.setPortCount(1);
  EXPECT_EQ(composition_.connections(),
            (std::vector<Connection>{{{"d", "out0"}, {"b", "inputA"}}}));
  dynamic.setPortCount(3);
  EXPECT_NO_THROW(connect("d.out2", "r.inputValue")) << "the input is free again";
}

TEST_F(CompositionTest, PropertyPortsComeFirstInDisplayOrderThenAddedPorts) {
  auto& adder = add<AdderPlugIn>("adder", "AdderPlugIn");
  adder.addInputPortWithType(QCPortTypeNumber, "late", {});
  std::vector<std::string> keys;
  for (const auto& port : adder.portTable().ports(QCPortDirection::Input)) keys.push_back(port.key);
  EXPECT_EQ(keys,
            (std::vector<std::string>{"inputA", "inputB", "inputLevel", "inputGate", "late"}));
}

TEST_F(CompositionTest, SettingsGoThroughTheBoundGetterAndSetterAndRefuseOtherKinds) {
  auto& dynamic = add<DynamicPlugIn>("d", "DynamicPlugIn");
  dynamic.setSerializedValue(Value::index(2), "portCount");
  EXPECT_EQ(dynamic.portCount(), 2u);
  EXPECT_TRUE(dynamic.portTable().hasPort(QCPortDirection::Output, "out1"));
  dynamic.setSerializedValue(Value::number(3.0), "portCount");
  EXPECT_EQ(dynamic.serializedValueForKey("portCount"), Value::index(3));
  EXPECT_THROW(dynamic.setSerializedValue(Value::string("3"), "portCount"), QCPlugInHostException);
  EXPECT_THROW(dynamic.serializedValueForKey("other"), QCPlugInHostException);
}

TEST_F(CompositionTest, APanelIsMadeOnceOwnedByTheHostAndDestroyedOnTheMainThread) {
  auto& dynamic = add<DynamicPlugIn>("d", "DynamicPlugIn");
  QCPlugInViewController* panel = composition_.openPanel("d");
  ASSERT_NE(panel, nullptr);
  EXPECT_EQ(&panel->plugIn(), &dynamic);
  EXPECT_EQ(composition_.openPanel("d"), panel);
  EXPECT_EQ(composition_.openPanel("nobody"), nullptr);

  TableView* table = panel->tableViewNamed("ports");
  ASSERT_NE(table, nullptr);
  performOnMainThreadAndWait([&] {
    panel->tableViewSetObjectValue(*table, Value::index(1), *table->firstCheckBoxColumn(), 3);
  });
  EXPECT_EQ(dynamic.portCount(), 4u);
  performOnMainThreadAndWait([&] { panel->switchNamed("double")->userSetState(true); });
  EXPECT_EQ(dynamic.portCount(), 8u);

  composition_.closePanel("d");
  EXPECT_EQ(dynamic.panelsDestroyedOnMainThread, 1);
  EXPECT_EQ(dynamic.panelsDestroyedElsewhere, 0);
}

TEST_F(CompositionTest, APatchAskingForAnEvaluationGetsOneLongBeforeTheNextScheduledTick) {
  auto& counter = add<CounterPlugIn>("counter", "CounterPlugIn");
  std::mutex mutex;
  std::condition_variable ticked;
  uint64_t ticks = 0;
  composition_.setTickObserver([&](double) {
    std::lock_guard lock(mutex);
    ++ticks;
    ticked.notify_all();
  });
  composition_.start(0.0001);  // the scheduled ticks: now, then in hours
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(30), [&] { return ticks >= 1; }));
  }
  counter.requestEvaluation();
  {
    std::unique_lock lock(mutex);
    ASSERT_TRUE(ticked.wait_for(lock, std::chrono::seconds(30), [&] { return ticks >= 2; }));
  }
  composition_.stop();
  EXPECT_EQ(counter.executions, 2);
}

TEST_F(CompositionTest, EndlessRequestsForEvaluationMakeAtMostOneTickPerMinimumInterval) {
  auto& counter = add<CounterPlugIn>("counter", "CounterPlugIn");
  composition_.start(0.0001);
  const auto begin = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - begin < std::chrono::milliseconds(100)) {
    counter.requestEvaluation();
  }
  composition_.stop();
  const auto elapsed = std::chrono::steady_clock::now() - begin;
  // One scheduled tick at the start, then one per interval at most.
  EXPECT_LE(composition_.tickCount(), 2 + elapsed / Composition::kMinimumRequestInterval);
  EXPECT_GE(composition_.tickCount(), 2u);
}

TEST_F(CompositionTest, PortsChangeSafelyWhileTheEvaluationThreadRuns) {
  auto& dynamic = add<DynamicPlugIn>("d", "DynamicPlugIn");
  add<RecorderPlugIn>("r", "RecorderPlugIn");
  add<CounterPlugIn>("c", "CounterPlugIn");
  dynamic.setPortCount(4);
  composition_.start(2000);
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (int round = 0;
       round < 300 || (composition_.tickCount() < 50 && std::chrono::steady_clock::now() < giveUp);
       ++round) {
    dynamic.setPortCount(static_cast<uint64_t>(round % 5));
    if (round % 5 >= 2) {
      composition_.setInputValue({"d", "in1"}, Value::number(round));
      try {
        composition_.connect({"d", "out1"}, {"r", "inputValue"});
      } catch (const CompositionError&) {
        // connected already
      }
    }
    if (round % 50 == 0) composition_.requestEvaluation();
  }
  composition_.stop();
  EXPECT_FALSE(composition_.running());
  EXPECT_GT(composition_.tickCount(), 0u);
}

}  // namespace
}  // namespace wex
