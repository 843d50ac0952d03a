#include <gtest/gtest.h>

#include "PatchCompositionFixture.h"
#include "host/CompositionFile.h"
#include "patches/MIDI_SenderPlugIn.h"
#include "patches/SettingsController.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;

class SenderPatchTest : public PatchCompositionFixture {
 protected:
  SenderPatchTest() {
    synth = services->createDeviceDestination("Synth");
    drums = services->createDeviceDestination("Drums");
  }
  MIDI_SenderPlugIn& addSender() { return add<MIDI_SenderPlugIn>("tx", "MIDI_SenderPlugIn"); }
  // Sets the input and evaluates once; returns what Synth received then.
  Bytes send(const Value& messages) {
    set("tx", "inputMessages", messages);
    return evaluateAndTake(synth);
  }
  Bytes evaluateAndTake(MIDIEndpointRef destination) {
    tick();
    EXPECT_TRUE(services->waitUntilDelivered(10));
    auto recording = services->recording(destination);
    Bytes bytes = recording->bytes();
    for (MIDIEndpointRef each : {synth, drums}) {
      if (auto kept = services->recording(each)) kept->clear();
    }
    return bytes;
  }
  SettingsController& openPanel() {
    return dynamic_cast<SettingsController&>(*composition->openPanel("tx"));
  }

  MIDIEndpointRef synth = 0;
  MIDIEndpointRef drums = 0;
};

TEST_F(SenderPatchTest, SendsTheElementsOfAnOrderedStructureInOrderEachInItsOwnList) {
  addSender();
  set("tx", "inputMessages", list({number(9452644), text("1,2,3"), number(11732863)}));
  tick();
  ASSERT_TRUE(services->waitUntilDelivered(10));
  // note on channel 1 C4 velocity 100, sysex of 3 data bytes, control change channel 4
  // controller 7 value 127
  EXPECT_EQ(services->recording(synth)->bytes(),
            (Bytes{0x90, 0x3C, 0x64, 0xF0, 0x01, 0x02, 0x03, 0xF7, 0xB3, 0x07, 0x7F}));
  EXPECT_EQ(services->recording(synth)->listCount(), 3u);
  EXPECT_EQ(services->recording(drums)->bytes(), services->recording(synth)->bytes());
}

TEST_F(SenderPatchTest, SkipsElementsThatYieldNoMessageAndSendsTheOthers) {
  addSender();
  const Value nested = list({number(9452644)});
  // note on channel 1 C4 velocity 100, sysex of 1 data byte, program change channel 2 program 5
  EXPECT_EQ(send(list({number(9452644), text("300"), nested, text("5"), number(12649982)})),
            (Bytes{0x90, 0x3C, 0x64, 0xF0, 0x05, 0xF7, 0xC1, 0x05}));
}

struct KeyedCase {
  const char* name;
  std::vector<std::pair<std::string, Value>> entries;
  Bytes sent;
};

class SenderKeyedStructures : public SenderPatchTest,
                              public testing::WithParamInterface<KeyedCase> {};

TEST_P(SenderKeyedStructures, TryOnlyTheKeysZeroToCountMinusOneInOrder) {
  addSender();
  EXPECT_EQ(send(keyed(GetParam().entries)), GetParam().sent);
}

INSTANTIATE_TEST_SUITE_P(
    Structures, SenderKeyedStructures,
    testing::Values(KeyedCase{"NoteOnThenSysex",
                              {{"1", Value::string("1,2")}, {"0", Value::number(9452644)}},
                              {0x90, 0x3C, 0x64, 0xF0, 0x01, 0x02, 0xF7}},
                    KeyedCase{"KeyThatIsNoPosition", {{"a", Value::number(9452644)}}, {}},
                    KeyedCase{"GapEndsBeforeTheLastKey",
                              {{"0", Value::number(9452644)}, {"2", Value::number(11732863)}},
                              {0x90, 0x3C, 0x64}},  // note on channel 1 C4 velocity 100
                    KeyedCase{"LeadingZeroIsNoPosition",
                              {{"00", Value::number(9452644)}, {"1", Value::number(11732863)}},
                              {0xB3, 0x07, 0x7F}}),
    [](const testing::TestParamInfo<KeyedCase>& info) { return std::string(info.param.name); });

TEST_F(SenderPatchTest, SendsAnUnchangedStructureAgainOnlyWhileResendIsOn) {
  addSender();
  const Value messages = list({number(9452644)});
  EXPECT_EQ(send(messages), (Bytes{0x90, 0x3C, 0x64}));  // note on channel 1 C4 velocity 100
  EXPECT_EQ(send(messages), Bytes{});
  set("tx", "inputResend", Value::boolean(true));
  EXPECT_EQ(send(messages), (Bytes{0x90, 0x3C, 0x64}));  // note on channel 1 C4 velocity 100
  EXPECT_EQ(send(messages), (Bytes{0x90, 0x3C, 0x64}));  // note on channel 1 C4 velocity 100
}

TEST_F(SenderPatchTest, DestinationSwitchedOffInThePanelReceivesNothing) {
  addSender();
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 2u);
  EXPECT_EQ(cell(panel, "name", 1), text("Drums"));
  edit(panel, "enabled", 1, Value::index(0));
  set("tx", "inputMessages", list({number(9452644)}));
  EXPECT_EQ(evaluateAndTake(drums), Bytes{});
  set("tx", "inputMessages", list({number(11732863)}));
  EXPECT_EQ(evaluateAndTake(synth), (Bytes{0xB3, 0x07, 0x7F}));
}

TEST_F(SenderPatchTest, DestinationNamedFooIsNeitherListedNorSentTo) {
  const auto foo = services->createDeviceDestination("foo");
  addSender();
  auto& panel = openPanel();
  EXPECT_EQ(rows(panel), 2u);
  send(list({number(9452644)}));
  EXPECT_EQ(services->recording(foo)->bytes(), Bytes{});
}

TEST_F(SenderPatchTest, OpeningThePanelKeepsFlagsByNameAndListsNewDestinationsSwitchedOn) {
  addSender();
  edit(openPanel(), "enabled", 0, Value::index(0));
  composition->closePanel("tx");
  const auto late = services->createDeviceDestination("Late Synth");
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 3u);
  EXPECT_EQ(cell(panel, "name", 2), text("Late Synth"));
  EXPECT_EQ(cell(panel, "enabled", 0), Value::index(0));
  EXPECT_EQ(cell(panel, "enabled", 1), Value::index(1));
  EXPECT_EQ(cell(panel, "enabled", 2), Value::index(1));
  send(list({number(9452644)}));
  EXPECT_EQ(services->recording(late)->bytes(), (Bytes{0x90, 0x3C, 0x64}));
}

TEST_F(SenderPatchTest, DestinationThatDisappearedNoLongerStopsTheOthersAndLeavesThePanel) {
  addSender();
  ASSERT_EQ(services->removeDevice(synth), noErr);
  set("tx", "inputMessages", list({number(9452644)}));
  EXPECT_EQ(evaluateAndTake(drums), (Bytes{0x90, 0x3C, 0x64}));
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 1u);
  EXPECT_EQ(cell(panel, "name", 0), text("Drums"));
}

TEST_F(SenderPatchTest, SnapshotRoundTripsThroughACompositionFile) {
  addSender();
  edit(openPanel(), "enabled", 0, Value::index(0));
  const std::string saved = CompositionFile::serialize(*composition);
  const auto json = ValueJSON::Json::parse(saved);
  EXPECT_EQ(json["patches"][0]["settings"]["snapshot"],
            ValueJSON::Json::parse(R"({"dst": {"Drums": true, "Synth": false}})"));

  const auto newcomer = services->createDeviceDestination("Newcomer");
  auto reopened = CompositionFile::parse(saved, "saved", registry);
  auto& panel = *reopened->openPanel("tx");
  ASSERT_EQ(rows(panel), 3u);
  EXPECT_EQ(cell(panel, "name", 0), text("Synth"));
  EXPECT_EQ(cell(panel, "enabled", 0), Value::index(0));
  EXPECT_EQ(cell(panel, "enabled", 1), Value::index(1));
  EXPECT_EQ(cell(panel, "enabled", 2), Value::index(1));
  (void)newcomer;
}

TEST_F(SenderPatchTest, SavedNameWithoutDestinationIsDroppedFromTheNextSave) {
  const std::string file = R"({"format": "wexmidi composition", "version": 1,
    "patches": [{"id": "tx", "class": "MIDI_SenderPlugIn",
                 "settings": {"snapshot": {"dst": {"Gone": false, "Drums": false}}}}]})";
  auto loaded = CompositionFile::parse(file, "file", registry);
  const auto json = CompositionFile::toJSON(*loaded);
  EXPECT_EQ(json["patches"][0]["settings"]["snapshot"],
            ValueJSON::Json::parse(R"({"dst": {"Drums": false, "Synth": true}})"));
}

TEST_F(SenderPatchTest, SnapshotOfAnotherShapeIsRefusedNamingThePlaceAndTheKey) {
  for (const char* snapshot : {R"("on")", R"({"dst": [true]})", R"({"dst": {"Synth": "off"}})"}) {
    const std::string file = std::string(R"({"format": "wexmidi composition", "version": 1,
      "patches": [{"id": "tx", "class": "MIDI_SenderPlugIn",
                   "settings": {"snapshot": )") +
                             snapshot + "}}]}";
    try {
      CompositionFile::parse(file, "bad.json", registry);
      ADD_FAILURE() << "accepted " << snapshot;
    } catch (const CompositionFileError& error) {
      EXPECT_NE(std::string(error.what()).find("patches[0].settings.snapshot"), std::string::npos)
          << error.what();
    }
  }
}

TEST(SenderPatchClass, DescribesItselfAsAConsumerWithResendThenMessages) {
  PlugInRegistry registry;
  registerWexPatches(registry);
  const QCPlugInClass& sender = *registry.classNamed("MIDI_SenderPlugIn");
  EXPECT_EQ(sender.displayName(), "wex MIDI Sender");
  EXPECT_NE(sender.description().find("do something like: \r(type|channel)<<16|data1<<8|data2\r\r"),
            std::string::npos);
  EXPECT_EQ(sender.executionMode, QCPlugInExecutionMode::Consumer);
  EXPECT_EQ(sender.timeMode, QCPlugInTimeMode::None);
  EXPECT_EQ(sender.plugInKeys, std::vector<std::string>{"snapshot"});
  ASSERT_EQ(sender.propertyPorts.size(), 2u);
  EXPECT_EQ(sender.propertyPorts[0].key, "inputResend");
  EXPECT_EQ(sender.propertyPorts[1].key, "inputMessages");
}

}  // namespace
}  // namespace wex
