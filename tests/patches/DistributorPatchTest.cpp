#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "PatchCompositionFixture.h"
#include "host/CompositionFile.h"
#include "patches/CCDistributorSettingsController.h"
#include "patches/MIDI_CCDistributorPlugIn.h"
#include "patches/MIDI_NoteDistributorPlugIn.h"
#include "patches/NoteDistributorSettingsController.h"

namespace wex {
namespace {

using Keys = std::vector<std::string>;

// Message numbers: (type|channel)<<16 | data1<<8 | data2.
Value message(int status, int data1, int data2) {
  return Value::index(static_cast<uint64_t>(status) << 16 | data1 << 8 | data2);
}

std::vector<bool> enabling(std::initializer_list<int> numbers) {
  std::vector<bool> list(128, false);
  for (int n : numbers) list[n] = true;
  return list;
}

Value savedList(const std::vector<bool>& list) {
  std::vector<Value> values;
  for (bool entry : list) values.push_back(Value::boolean(entry));
  return Value::structure(Structure::makeList(std::move(values)));
}

class CCDistributorTest : public PatchCompositionFixture {
 protected:
  CCDistributorTest() : cc(add<MIDI_CCDistributorPlugIn>("cc", "MIDI_CCDistributorPlugIn")) {}
  void feed(std::vector<Value> messages) {
    set("cc", "inputMessages", list(std::move(messages)));
    tick();
  }
  Value port(int controller) const {
    return output("cc", MIDI_CCDistributorPlugIn::controllerKey(controller));
  }
  CCDistributorSettingsController& openPanel() {
    return dynamic_cast<CCDistributorSettingsController&>(*composition->openPanel("cc"));
  }
  std::vector<size_t> tickedRows() {
    auto& panel = openPanel();
    std::vector<size_t> ticked;
    for (size_t row = 0; row < rows(panel); ++row) {
      if (cell(panel, "enabled", row) == Value::index(1)) ticked.push_back(row);
    }
    return ticked;
  }
  void switchLearning(bool on) { openPanel().learnSwitch()->userSetState(on); }

  MIDI_CCDistributorPlugIn& cc;
};

TEST_F(CCDistributorTest, NewPatchHasOnlyTheControllerZeroPortAndTickedRow) {
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller0"});
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 128u);
  EXPECT_EQ(cell(panel, "number", 0), text("0"));
  EXPECT_EQ(cell(panel, "number", 127), text("127"));
  EXPECT_EQ(tickedRows(), std::vector<size_t>{0});
  EXPECT_FALSE(cc.learnMessages());
}

struct CCCase {
  const char* name;
  uint64_t channel;
  std::vector<Value> input;
  Value controller7;  // what the port of controller 7 shows afterwards
};

class CCDistribution : public CCDistributorTest, public testing::WithParamInterface<CCCase> {};

TEST_P(CCDistribution, WritesControlChangesOfTheChannelToTheirControllersPort) {
  cc.enableControllerPort(7);
  set("cc", "inputChannel", Value::index(GetParam().channel));
  feed(GetParam().input);
  EXPECT_EQ(port(7), GetParam().controller7);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, CCDistribution,
    testing::Values(
        CCCase{"ControlChangeOnTheChannel", 0, {message(0xB0, 7, 100)}, Value::index(100)},
        CCCase{"OtherChannel", 0, {message(0xB1, 7, 100)}, Value()},
        CCCase{"ChannelFive", 5, {message(0xB5, 7, 1)}, Value::index(1)},
        // All four channel bits count: channel 9 is not channel 1, nor 16 channel 8.
        CCCase{"ChannelNineOnChannelOne", 0, {message(0xB8, 7, 100)}, Value()},
        CCCase{"ChannelSixteenOnChannelEight", 7, {message(0xBF, 7, 100)}, Value()},
        CCCase{"ChannelSixteen", 15, {message(0xBF, 7, 2)}, Value::index(2)},
        CCCase{"NoteOnIsNoControlChange", 0, {message(0x90, 7, 100)}, Value()},
        CCCase{"LastOfSeveralStands",
               0,
               {message(0xB0, 7, 10), message(0xB0, 7, 20)},
               Value::index(20)},
        CCCase{"ValueZeroIsWritten", 0, {message(0xB0, 7, 0)}, Value::index(0)},
        CCCase{"SysexStringIsSkipped",
               0,
               {Value::string("1,2"), message(0xB0, 7, 3)},
               Value::index(3)},
        CCCase{"NumberValueAndHighBitsIgnored",
               0,
               {Value::number(0xB007FF + 0x1000000 + 0.5)},
               Value::index(127)},
        CCCase{
            "NegativeNumberCountsByItsLowBits", 0, {Value::number(-5240961.0)}, Value::index(127)},
        CCCase{"NoNumberAtAll",
               0,
               {Value::number(1e300), PatchCompositionFixture::list({message(0xB0, 7, 9)})},
               Value()}),
    [](const testing::TestParamInfo<CCCase>& info) { return std::string(info.param.name); });

TEST_F(CCDistributorTest, ControlChangeForAControllerWithoutPortChangesNothing) {
  feed({message(0xB0, 9, 100), message(0xB0, 0, 5)});
  EXPECT_EQ(port(0), Value::index(5));
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller0"});
}

TEST_F(CCDistributorTest, PortThatReceivesNothingKeepsItsLastValue) {
  cc.enableControllerPort(7);
  feed({message(0xB0, 7, 42)});
  feed({message(0xB0, 0, 1)});
  EXPECT_EQ(port(7), Value::index(42));
}

TEST_F(CCDistributorTest, LearningAddsThePortsOfTheControllersSeenOnTheChannelInAscendingOrder) {
  switchLearning(true);
  // control changes: channel 1 controllers 74, 10 and 74, channel 2 controller 20, channel 1
  // controller 0
  feed({message(0xB0, 74, 1), message(0xB0, 10, 2), message(0xB0, 74, 3), message(0xB1, 20, 4),
        message(0xB0, 0, 9)});
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller0"});
  EXPECT_TRUE(port(0).isNone()) << "no port is written while learning";
  switchLearning(false);
  EXPECT_EQ(dynamicOutputs("cc"), (Keys{"controller0", "controller10", "controller74"}));
  EXPECT_EQ(tickedRows(), (std::vector<size_t>{0, 10, 74}));
}

TEST_F(CCDistributorTest, SwitchingLearningOnAgainForgetsTheFirstRun) {
  switchLearning(true);
  feed({message(0xB0, 10, 1)});
  switchLearning(true);
  feed({message(0xB0, 11, 1)});
  switchLearning(false);
  EXPECT_EQ(dynamicOutputs("cc"), (Keys{"controller0", "controller11"}));
}

TEST_F(CCDistributorTest, ClosingThePanelWhileLearningEndsLearningWithTheLearnedPorts) {
  switchLearning(true);
  feed({message(0xB0, 33, 1)});
  composition->closePanel("cc");
  EXPECT_FALSE(cc.learnMessages());
  EXPECT_EQ(dynamicOutputs("cc"), (Keys{"controller0", "controller33"}));
}

TEST_F(CCDistributorTest, UntickingAndTickingARowRemovesAndAddsItsPort) {
  cc.enableControllerPort(5);
  auto& panel = openPanel();
  edit(panel, "enabled", 5, Value::index(0));
  EXPECT_FALSE(hasOutput("cc", "controller5"));
  EXPECT_FALSE(cc.controllerPorts()[5]);
  edit(panel, "enabled", 5, Value::index(1));
  EXPECT_TRUE(hasOutput("cc", "controller5"));
  EXPECT_TRUE(cc.controllerPorts()[5]);
  edit(panel, "enabled", 5, Value::index(1));
  EXPECT_EQ(dynamicOutputs("cc"), (Keys{"controller0", "controller5"}));
}

TEST_F(CCDistributorTest, EnablingAnEnabledControllerLetsTheHostsRefusalThrough) {
  EXPECT_THROW(cc.enableControllerPort(0), QCPlugInHostException);
  EXPECT_THROW(cc.enableControllerPort(128), std::out_of_range);
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller0"});
}

TEST_F(CCDistributorTest, SavedControllersComeBackWithTheirPortsAndTicks) {
  cc.enableControllerPort(64);
  const std::string saved = CompositionFile::serialize(*composition);
  auto reopened = CompositionFile::parse(saved, "saved", registry);
  composition = std::move(reopened);
  EXPECT_EQ(dynamicOutputs("cc"), (Keys{"controller0", "controller64"}));
  auto& again = dynamic_cast<MIDI_CCDistributorPlugIn&>(*composition->patch("cc"));
  EXPECT_EQ(again.controllerPorts(), enabling({0, 64}));
}

TEST_F(CCDistributorTest, RestoringAListWithoutControllerZeroRemovesItsPort) {
  cc.setSerializedValue(savedList(enabling({3, 1})), "controllerPorts");
  EXPECT_EQ(dynamicOutputs("cc"), (Keys{"controller1", "controller3"}));
  EXPECT_EQ(tickedRows(), (std::vector<size_t>{1, 3}));
  edit(openPanel(), "enabled", 0, Value::index(1));
  EXPECT_TRUE(hasOutput("cc", "controller0"));
}

TEST_F(CCDistributorTest, SavedListOfAnyLengthIsRestoredEntryByEntryWithARowEach) {
  struct Case {
    std::vector<Value> saved;
    Keys ports;
    size_t rows;
  };
  const std::vector<Case> cases{
      {{Value::boolean(false), Value::index(1), Value::number(0.0), Value::number(-2.5)},
       {"controller1", "controller3"},
       4},
      {{}, {}, 0},
      {std::vector<Value>(130, Value::boolean(false)), {}, 130},
  };
  for (const Case& c : cases) {
    cc.setSerializedValue(Value::structure(Structure::makeList(c.saved)), "controllerPorts");
    EXPECT_EQ(dynamicOutputs("cc"), c.ports);
    EXPECT_EQ(rows(openPanel()), c.rows);
  }
  std::vector<Value> long_(130, Value::boolean(false));
  long_[129] = Value::boolean(true);
  cc.setSerializedValue(Value::structure(Structure::makeList(long_)), "controllerPorts");
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller129"});
}

TEST_F(CCDistributorTest, LearningBeyondTheEndOfAShortRestoredListIsIgnored) {
  cc.setSerializedValue(savedList({false, false, false}), "controllerPorts");
  switchLearning(true);
  feed({message(0xB0, 2, 1), message(0xB0, 90, 1)});
  switchLearning(false);
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller2"});
  EXPECT_EQ(cc.controllerPorts(), (std::vector<bool>{false, false, true}));
}

TEST_F(CCDistributorTest, SavedValueThatIsNoListOfBooleansIsRefusedAndChangesNothing) {
  std::vector<Value> withText(128, Value::boolean(false));
  withText[3] = text("yes");
  for (const Value& bad : {Value::structure(Structure::makeList(withText)), text("all")}) {
    try {
      cc.setSerializedValue(bad, "controllerPorts");
      ADD_FAILURE() << "accepted";
    } catch (const QCPlugInHostException& refusal) {
      EXPECT_NE(std::string(refusal.what()).find("MIDI_CCDistributorPlugIn \"controllerPorts\""),
                std::string::npos)
          << refusal.what();
    }
  }
  EXPECT_EQ(cc.controllerPorts(), enabling({0}));
  EXPECT_EQ(dynamicOutputs("cc"), Keys{"controller0"});
}

TEST_F(CCDistributorTest, FileLoaderRestoresAShortList) {
  const std::string file = R"({"format": "wexmidi composition", "version": 1,
    "patches": [{"id": "knobs", "class": "MIDI_CCDistributorPlugIn",
                 "settings": {"controllerPorts": [true, false, 1]}}]})";
  composition = CompositionFile::parse(file, "knobs.json", registry);
  EXPECT_EQ(dynamicOutputs("knobs"), (Keys{"controller0", "controller2"}));
  EXPECT_EQ(rows(*composition->openPanel("knobs")), 3u);
}

TEST_F(CCDistributorTest, PanelEditsWhileTheHostEvaluatesKeepListAndPortsInStep) {
  composition->start(2000);
  auto& panel = openPanel();
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (int i = 0; !done; ++i) {
      set("cc", "inputMessages", list({message(0xB0, i % 16, i % 128)}));
    }
  });
  for (int round = 0; round < 200; ++round) {
    edit(panel, "enabled", round % 16, Value::index(round % 3 == 0 ? 1 : 0));
    if (round % 50 == 0) switchLearning(round % 100 == 0);
  }
  switchLearning(false);
  done = true;
  feeder.join();
  composition->stop();
  const auto list = cc.controllerPorts();
  for (int n = 0; n < 128; ++n) {
    EXPECT_EQ(list[n], hasOutput("cc", MIDI_CCDistributorPlugIn::controllerKey(n))) << n;
  }
}

class NoteDistributorTest : public PatchCompositionFixture {
 protected:
  NoteDistributorTest()
      : notes(add<MIDI_NoteDistributorPlugIn>("notes", "MIDI_NoteDistributorPlugIn")) {}
  void feed(std::vector<Value> messages) {
    set("notes", "inputMessages", list(std::move(messages)));
    tick();
  }
  Value gate(int note) const { return output("notes", MIDI_NoteDistributorPlugIn::noteKey(note)); }
  Value velocity(int note) const {
    return output("notes", MIDI_NoteDistributorPlugIn::velocityKey(note));
  }
  NoteDistributorSettingsController& openPanel() {
    return dynamic_cast<NoteDistributorSettingsController&>(*composition->openPanel("notes"));
  }

  MIDI_NoteDistributorPlugIn& notes;
};

TEST_F(NoteDistributorTest, NewPatchHasTheGateAndVelocityPortsOfNoteZero) {
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note0", "velocity0"}));
  const auto& ports = composition->patch("notes")->portTable();
  EXPECT_EQ(ports.port(QCPortDirection::Output, "note0")->type, QCPortType::Boolean);
  EXPECT_EQ(ports.port(QCPortDirection::Output, "velocity0")->type, QCPortType::Index);
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 128u);
  EXPECT_EQ(cell(panel, "number", 60), text("60"));
  EXPECT_EQ(cell(panel, "enabled", 0), Value::index(1));
  EXPECT_EQ(cell(panel, "enabled", 60), Value::index(0));
}

struct NoteCase {
  const char* name;
  std::vector<Value> input;
  Value gate60;
  Value velocity60;
};

class NoteDistribution : public NoteDistributorTest,
                         public testing::WithParamInterface<NoteCase> {};

TEST_P(NoteDistribution, SetsGateAndVelocityOfTheNoteFromNotesOnTheChannel) {
  notes.enableNotePort(60);
  feed(GetParam().input);
  EXPECT_EQ(gate(60), GetParam().gate60);
  EXPECT_EQ(velocity(60), GetParam().velocity60);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, NoteDistribution,
    testing::Values(
        NoteCase{"NoteOn", {message(0x90, 60, 100)}, Value::boolean(true), Value::index(100)},
        NoteCase{"NoteOffShowsItsReleaseVelocity",
                 {message(0x90, 60, 100), message(0x80, 60, 64)},
                 Value::boolean(false),
                 Value::index(64)},
        NoteCase{"NoteOnWithVelocityZeroStaysANoteOn",
                 {message(0x90, 60, 0)},
                 Value::boolean(true),
                 Value::index(0)},
        NoteCase{"OffThenOnLeavesTheGateOn",
                 {message(0x80, 60, 0), message(0x90, 60, 90)},
                 Value::boolean(true),
                 Value::index(90)},
        NoteCase{"OtherChannel", {message(0x91, 60, 100)}, Value(), Value()},
        NoteCase{"ControlChange", {message(0xB0, 60, 100)}, Value(), Value()},
        NoteCase{"PolyphonicPressure", {message(0xA0, 60, 100)}, Value(), Value()},
        NoteCase{"SysexStringThenANote",
                 {Value::string("9,60,100"), message(0x90, 60, 1)},
                 Value::boolean(true),
                 Value::index(1)},
        NoteCase{"TextWithANoteNumberCounts",
                 {Value::string(" +9452644 and more")},
                 Value::boolean(true),
                 Value::index(100)},
        NoteCase{"NestedStructureIsSkipped",
                 {PatchCompositionFixture::list({message(0x90, 60, 100)})},
                 Value(),
                 Value()}),
    [](const testing::TestParamInfo<NoteCase>& info) { return std::string(info.param.name); });

TEST_F(NoteDistributorTest, NoteWithoutPortsChangesNothing) {
  feed({message(0x90, 61, 100)});
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note0", "velocity0"}));
}

TEST_F(NoteDistributorTest, LearningGivesEachPlayedNoteBothPortsInAscendingOrder) {
  auto& panel = openPanel();
  panel.learnNotes(*panel.learnSwitch());  // the switch is off: nothing learned, nothing added
  panel.learnSwitch()->userSetState(true);
  // channel 1: note on G4, note off C4, note on E4; channel 2: note on A#4
  feed({message(0x90, 67, 1), message(0x80, 60, 0), message(0x90, 64, 1), message(0x91, 70, 1)});
  EXPECT_TRUE(gate(60).isNone());
  panel.learnSwitch()->userSetState(false);
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note0", "velocity0", "note60", "velocity60", "note64",
                                           "velocity64", "note67", "velocity67"}));
  EXPECT_EQ(cell(panel, "enabled", 64), Value::index(1));
  EXPECT_EQ(cell(panel, "enabled", 70), Value::index(0));
}

TEST_F(NoteDistributorTest, UntickingRemovesBothPortsAndTickingAddsThemGateFirst) {
  notes.enableNotePort(60);
  auto& panel = openPanel();
  edit(panel, "enabled", 60, Value::index(0));
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note0", "velocity0"}));
  edit(panel, "enabled", 60, Value::index(1));
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note0", "velocity0", "note60", "velocity60"}));
}

TEST_F(NoteDistributorTest, SavedNotesComeBackWithTheirFourPorts) {
  notes.enableNotePort(36);
  auto reopened =
      CompositionFile::parse(CompositionFile::serialize(*composition), "saved", registry);
  composition = std::move(reopened);
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note0", "velocity0", "note36", "velocity36"}));
  EXPECT_EQ(cell(*composition->openPanel("notes"), "enabled", 36), Value::index(1));
}

TEST_F(NoteDistributorTest, RestoringAListWithoutNoteZeroRemovesBothOfItsPorts) {
  notes.setSerializedValue(savedList(enabling({36})), "notePorts");
  EXPECT_EQ(dynamicOutputs("notes"), (Keys{"note36", "velocity36"}));
  EXPECT_EQ(notes.notePorts(), enabling({36}));
}

TEST_F(NoteDistributorTest, FileLoaderRefusesANonListNamingThePatchAndTheKey) {
  const std::string file = R"({"format": "wexmidi composition", "version": 1,
    "patches": [{"id": "pads", "class": "MIDI_NoteDistributorPlugIn",
                 "settings": {"notePorts": {"60": true}}}]})";
  try {
    CompositionFile::parse(file, "pads.json", registry);
    FAIL() << "accepted";
  } catch (const CompositionFileError& error) {
    EXPECT_NE(std::string(error.what())
                  .find("pads.json: patches[0].settings.notePorts: MIDI_NoteDistributorPlugIn "
                        "\"notePorts\": expected a list of booleans"),
              std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace wex
