#include <gtest/gtest.h>

#include "PatchFixture.h"
#include "patches/MIDI_14bit_MessagePlugIn.h"
#include "patches/MIDI_MessagePlugIn.h"

namespace wex {
namespace {

using test::PatchFixture;

struct MessageCase {
  const char* name;
  uint64_t type;
  uint64_t channel;
  uint64_t data1;
  uint64_t data2;
  uint64_t expected;
};

class MessagePlugInTest : public PatchFixture, public ::testing::WithParamInterface<MessageCase> {
 protected:
  MessagePlugInTest() { composition_->addPatch("m", "MIDI_MessagePlugIn"); }
  void compose(uint64_t type, uint64_t channel, uint64_t data1, uint64_t data2) {
    set("m.inputMessageType", Value::index(type));
    set("m.inputChannel", Value::index(channel));
    set("m.inputData1", Value::index(data1));
    set("m.inputData2", Value::index(data2));
    tick();
  }
};

TEST_P(MessagePlugInTest, BuildsTheMessageNumberFromTheMenuTypeChannelAndData) {
  const MessageCase& c = GetParam();
  compose(c.type, c.channel, c.data1, c.data2);
  EXPECT_EQ(output("m.outputMessage"), Value::index(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Messages, MessagePlugInTest,
    ::testing::Values(MessageCase{"NoteOn", 1, 0, 60, 100, 9452644},
                      MessageCase{"NoteOffOnChannel15", 0, 15, 60, 0, 0x8F3C00},
                      MessageCase{"AfterTouchIsPerKeyPressure", 2, 3, 60, 10, 0xA33C0A},
                      MessageCase{"ControlChange", 3, 3, 7, 127, 11732863},
                      MessageCase{"ProgramChangeKeepsBothDataValues", 4, 9, 5, 0, 0xC90500},
                      MessageCase{"PitchWheel", 5, 2, 0, 64, 0xE20040},
                      MessageCase{"ClockDropsTheChannel", 10, 5, 1, 2, 0xF80102},
                      MessageCase{"MTCQuarterFrame", 6, 9, 0x31, 0, 0xF13100},
                      MessageCase{"ActiveSenseIsTheLastItem", 14, 15, 0, 0, 0xFE0000},
                      MessageCase{"DataAboveTheirMaximumAreKeptTo127", 1, 0, 300, 1000, 0x907F7F},
                      MessageCase{"ChannelAboveItsMaximumIsKeptTo15", 1, 99, 60, 100, 0x9F3C64},
                      MessageCase{"TypeAboveTheMenuIsKeptToTheLastItem", 99, 0, 0, 0, 0xFE0000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MessagePlugInTest, EveryMenuItemStandsForItsStatusAndSystemTypesDropTheChannel) {
  const uint8_t statuses[] = {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xE0, 0xF1, 0xF2,
                              0xF3, 0xF6, 0xF8, 0xFA, 0xFB, 0xFC, 0xFE};
  for (uint64_t index = 0; index < 15; ++index) {
    compose(index, 7, 1, 2);
    const uint64_t status = statuses[index] < 0xF0 ? statuses[index] | 7 : statuses[index];
    EXPECT_EQ(output("m.outputMessage"), Value::index(status << 16 | 0x0102)) << index;
  }
}

TEST_F(MessagePlugInTest, WithoutAChangedInputTheOutputKeepsItsValue) {
  compose(1, 0, 60, 100);
  composition_->patch("m")->setValueForOutputKey(Value::index(42), "outputMessage");
  executeRegardless("m");
  EXPECT_EQ(output("m.outputMessage"), Value::index(42));
  set("m.inputData2", Value::index(99));
  tick();
  EXPECT_EQ(output("m.outputMessage"), Value::index(0x903C63));
}

TEST(MessagePlugInHost, ATypeIndexBeyondTheTableFromAHostThatDoesNotClampLeavesTheOutput) {
  // A host that ignores the maximum of the type port.
  auto plugInClass = QCPlugInClass::describe<MIDI_MessagePlugIn>("MIDI_MessagePlugIn");
  for (auto& port : plugInClass.propertyPorts) {
    port.attributes.erase(QCPortAttributeMaximumValueKey);
  }
  PlugInRegistry registry;
  registry.add(plugInClass);
  Composition composition(registry);
  composition.addPatch("m", "MIDI_MessagePlugIn");
  composition.setInputValue({"m", "inputMessageType"}, Value::index(1));
  composition.evaluate(0);
  ASSERT_EQ(composition.outputValue({"m", "outputMessage"}), Value::index(0x900000));
  for (uint64_t type : {15u, 16u, 255u, 100000u}) {
    composition.setInputValue({"m", "inputMessageType"}, Value::index(type));
    composition.evaluate(1);
    EXPECT_EQ(composition.outputValue({"m", "outputMessage"}), Value::index(0x900000)) << type;
  }
}

struct FourteenBitCase {
  const char* name;
  uint64_t channel;
  uint64_t controller;
  uint64_t value;
  uint64_t msb;
  uint64_t lsb;
};

class FourteenBitPlugInTest : public PatchFixture,
                              public ::testing::WithParamInterface<FourteenBitCase> {
 protected:
  FourteenBitPlugInTest() { composition_->addPatch("cc", "MIDI_14bit_MessagePlugIn"); }
};

TEST_P(FourteenBitPlugInTest, SplitsTheValueIntoCoarseAndFineControlChanges) {
  const FourteenBitCase& c = GetParam();
  set("cc.inputChannel", Value::index(c.channel));
  set("cc.inputControllerNumber", Value::index(c.controller));
  set("cc.input14Value", Value::index(c.value));
  tick();
  EXPECT_EQ(output("cc.outputMSB"), Value::index(c.msb));
  EXPECT_EQ(output("cc.outputLSB"), Value::index(c.lsb));
}

INSTANTIATE_TEST_SUITE_P(
    Values, FourteenBitPlugInTest,
    ::testing::Values(FourteenBitCase{"Full", 1, 7, 16383, 0xB1077F, 0xB1277F},
                      FourteenBitCase{"ThreeHundred", 0, 0, 300, 0xB00002, 0xB0202C},
                      FourteenBitCase{"Zero", 0, 0, 0, 0xB00000, 0xB02000},
                      FourteenBitCase{"OneHundredTwentySeven", 0, 0, 127, 0xB00000, 0xB0207F},
                      FourteenBitCase{"OneHundredTwentyEight", 0, 0, 128, 0xB00001, 0xB02000},
                      FourteenBitCase{"ControllerKeptTo31", 15, 40, 1, 0xBF1F00, 0xBF3F01},
                      FourteenBitCase{"ValueKeptTo16383", 2, 1, 70000, 0xB2017F, 0xB2217F}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FourteenBitPlugInTest, WithoutAChangedInputBothOutputsKeepTheirValues) {
  set("cc.input14Value", Value::index(300));
  tick();
  auto patch = composition_->patch("cc");
  patch->setValueForOutputKey(Value::index(1), "outputMSB");
  patch->setValueForOutputKey(Value::index(2), "outputLSB");
  executeRegardless("cc");
  EXPECT_EQ(output("cc.outputMSB"), Value::index(1));
  EXPECT_EQ(output("cc.outputLSB"), Value::index(2));
}

TEST_F(FourteenBitPlugInTest, TheOutputsFeedNumberInputsAsMessageNumbers) {
  composition_->addPatch("group", "MIDI_GroupPlugIn");
  composition_->patch("group")->setSerializedValue(Value::index(2), "numberOfMessages");
  connect("cc.outputMSB", "group.message0");
  connect("cc.outputLSB", "group.message1");
  set("cc.inputChannel", Value::index(1));
  set("cc.inputControllerNumber", Value::index(7));
  set("cc.input14Value", Value::index(16383));
  tick();
  const Value messages = output("group.outputMessages");
  ASSERT_TRUE(messages.isStructure());
  EXPECT_EQ(messages.asStructure()->values(),
            (std::vector<Value>{Value::number(0xB1077F), Value::number(0xB1277F)}));
}

}  // namespace
}  // namespace wex
