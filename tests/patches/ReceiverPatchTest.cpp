#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "PatchCompositionFixture.h"
#include "host/CompositionFile.h"
#include "patches/MIDIReceiver.h"
#include "patches/MIDI_ReceiverPlugIn.h"
#include "patches/ReceiverSettingsController.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;
using Texts = std::vector<std::string>;

// A structure of message values as texts: numbers in decimal, sysex strings
// in single quotes; "<none>" when the port holds no structure.
Texts render(const Value& value) {
  if (!value.isStructure()) return {"<none>"};
  Texts texts;
  for (const auto& element : value.asStructure()->values()) {
    if (element.isString()) {
      texts.push_back("'" + element.asString() + "'");
    } else {
      texts.push_back(std::to_string(static_cast<uint64_t>(element.toDouble())));
    }
  }
  return texts;
}

class ReceiverPatchTest : public PatchCompositionFixture {
 protected:
  MIDI_ReceiverPlugIn& addReceiver() {
    return add<MIDI_ReceiverPlugIn>("rx", "MIDI_ReceiverPlugIn");
  }
  void feed(MIDIEndpointRef source, const Bytes& bytes) {
    ASSERT_EQ(services->feedSourceBytes(source, bytes), noErr);
    waitForDelivery();
  }
  Texts messages() const { return render(output("rx", "outputMessages")); }
  ReceiverSettingsController& openPanel() {
    return dynamic_cast<ReceiverSettingsController&>(*composition->openPanel("rx"));
  }
};

TEST_F(ReceiverPatchTest, OutputsWhatArrivedOldestFirstThenAnEmptyStructureOnceThenNothing) {
  const auto keys = services->createDeviceSource("Keys");
  addReceiver();
  feed(keys, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  feed(keys, {0xB3, 0x07, 0x7F});  // control change channel 4 controller 7 value 127
  tick();
  EXPECT_EQ(messages(), (Texts{"9452644", "11732863"}));
  tick();
  EXPECT_EQ(messages(), Texts{});
  const uint64_t assigned = assignments("rx", "outputMessages");
  tick();
  EXPECT_EQ(assignments("rx", "outputMessages"), assigned);
}

TEST_F(ReceiverPatchTest, FirstEvaluationWithNothingReceivedLeavesThePortAlone) {
  services->createDeviceSource("Keys");
  addReceiver();
  tick();
  EXPECT_EQ(assignments("rx", "outputMessages"), 0u);
}

TEST_F(ReceiverPatchTest, NoteOnAndSysexBecomeAMessageNumberAndASysexString) {
  const auto keys = services->createDeviceSource("Keys");
  addReceiver();
  // note on channel 1 C4 velocity 100, sysex of 2 data bytes
  feed(keys, {0x90, 0x3C, 0x64, 0xF0, 0x01, 0x02, 0xF7});
  tick();
  EXPECT_EQ(messages(), (Texts{"9452644", "'1,2'"}));
}

TEST_F(ReceiverPatchTest, MessagesOfSeveralSourcesAreOutputInArrivalOrder) {
  const auto keys = services->createDeviceSource("Keys");
  const auto pads = services->createDeviceSource("Pads");
  addReceiver();
  feed(pads, {0x99, 0x24, 0x40});  // note on channel 10 C2 velocity 64
  feed(keys, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  feed(pads, {0x89, 0x24, 0x00});  // note off channel 10 C2 velocity 0
  tick();
  EXPECT_EQ(messages(), (Texts{"10036288", "9452644", "8987648"}));
}

TEST_F(ReceiverPatchTest, SourceSwitchedOffInThePanelIsNotHeardUntilSwitchedOnAgain) {
  const auto keys = services->createDeviceSource("Keys");
  const auto pads = services->createDeviceSource("Pads");
  addReceiver();
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 2u);
  EXPECT_EQ(cell(panel, "name", 1), text("Pads"));
  edit(panel, "enabled", 1, Value::index(0));
  EXPECT_EQ(cell(panel, "enabled", 1), Value::index(0));

  feed(pads, {0x99, 0x24, 0x40});  // note on channel 10 C2 velocity 64
  feed(keys, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  tick();
  EXPECT_EQ(messages(), Texts{"9452644"});

  edit(panel, "enabled", 1, Value::index(1));
  feed(pads, {0x89, 0x24, 0x00});  // note off channel 10 C2 velocity 0
  tick();
  EXPECT_EQ(messages(), Texts{"8987648"});
}

TEST_F(ReceiverPatchTest, OnlyTheValueOneTicksASource) {
  services->createDeviceSource("Keys");
  addReceiver();
  auto& panel = openPanel();
  for (const Value& value : {Value::index(2), Value::number(0.5), text("yes")}) {
    edit(panel, "enabled", 0, Value::index(1));
    edit(panel, "enabled", 0, value);
    EXPECT_EQ(cell(panel, "enabled", 0), Value::index(0));
  }
  edit(panel, "enabled", 0, text("1"));
  EXPECT_EQ(cell(panel, "enabled", 0), Value::index(1));
}

TEST_F(ReceiverPatchTest, OpeningThePanelAgainSwitchesEverySourceOnAgain) {
  services->createDeviceSource("Keys");
  addReceiver();
  edit(openPanel(), "enabled", 0, Value::index(0));
  composition->closePanel("rx");
  EXPECT_EQ(cell(openPanel(), "enabled", 0), Value::index(1));
}

TEST_F(ReceiverPatchTest, SourceNamedPooIsNeitherListedNorHeard) {
  const auto poo = services->createDeviceSource("poo");
  services->createDeviceSource("Keys");
  addReceiver();
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 1u);
  EXPECT_EQ(cell(panel, "name", 0), text("Keys"));
  feed(poo, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  tick();
  EXPECT_EQ(assignments("rx", "outputMessages"), 0u);
}

TEST_F(ReceiverPatchTest, SourceConnectedLaterIsHeardOnlyAfterThePanelIsOpened) {
  addReceiver();
  const auto late = services->createDeviceSource("Late Keys");
  ASSERT_TRUE(services->waitUntilNotified(10));
  feed(late, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  tick();
  EXPECT_EQ(assignments("rx", "outputMessages"), 0u);

  openPanel();
  feed(late, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  tick();
  EXPECT_EQ(messages(), Texts{"9452644"});
}

TEST_F(ReceiverPatchTest, SourceThatDisappearedLeavesTheListWhenThePanelIsOpened) {
  const auto keys = services->createDeviceSource("Keys");
  const auto pads = services->createDeviceSource("Pads");
  addReceiver();
  ASSERT_EQ(services->removeDevice(keys), noErr);
  feed(pads, {0x99, 0x24, 0x40});  // note on channel 10 C2 velocity 64
  tick();
  EXPECT_EQ(messages(), Texts{"10036288"});
  auto& panel = openPanel();
  ASSERT_EQ(rows(panel), 1u);
  EXPECT_EQ(cell(panel, "name", 0), text("Pads"));
}

TEST_F(ReceiverPatchTest, RowBeyondTheListShowsNothingAndIgnoresEdits) {
  services->createDeviceSource("Keys");
  addReceiver();
  auto& panel = openPanel();
  EXPECT_TRUE(cell(panel, "name", 1).isNone());
  EXPECT_TRUE(cell(panel, "enabled", 1).isNone());
  edit(panel, "enabled", 1, Value::index(0));
  EXPECT_EQ(cell(panel, "enabled", 0), Value::index(1));
}

TEST_F(ReceiverPatchTest, SavingAndReopeningRestoresNoEnabledFlags) {
  services->createDeviceSource("Keys");
  addReceiver();
  edit(openPanel(), "enabled", 0, Value::index(0));
  const std::string saved = CompositionFile::serialize(*composition);
  EXPECT_EQ(saved.find("settings"), std::string::npos) << saved;

  auto reopened = CompositionFile::parse(saved, "saved", registry);
  auto& panel = *reopened->openPanel("rx");
  EXPECT_EQ(cell(panel, "enabled", 0), Value::index(1));
}

TEST_F(ReceiverPatchTest, ArrivingMessagesAskTheHostForAnEvaluationAtOnce) {
  const auto keys = services->createDeviceSource("Keys");
  addReceiver();
  // One tick at the start, the next a thousand seconds later unless asked.
  composition->start(0.001);
  while (composition->tickCount() == 0) std::this_thread::yield();
  feed(keys, {0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (assignments("rx", "outputMessages") == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  composition->stop();
  EXPECT_EQ(messages(), Texts{"9452644"});
}

// The sources are connected while the manager is made, before the patch is
// its delegate: what they send meanwhile is handed to the patch, in order,
// ahead of what comes later.
TEST_F(ReceiverPatchTest, WhatArrivesBeforeThePatchListensIsHandedOverFirst) {
  struct Listener : OrvMIDIDelegateProtocol {
    void receivedMIDI(const OrvMIDIMessageList& messages) override {
      for (const auto& message : messages) types.push_back(message->type());
    }
    std::vector<Byte> types;
  } listener;
  const auto keys = services->createDeviceSource("Keys");
  const auto manager = OrvMIDIManager::create<MIDIReceiver>();
  feed(keys, {0x90, 0x3C, 0x64});  // note on
  feed(keys, {0xB3, 0x07, 0x7F});  // control change
  const OrvMIDIMessageList early = manager->startListening(&listener);
  ASSERT_EQ(early.size(), 2u);
  EXPECT_EQ(early[0]->type(), 0x90);
  EXPECT_EQ(early[1]->type(), 0xB0);
  feed(keys, {0xC0, 0x05});  // program change
  EXPECT_EQ(listener.types, std::vector<Byte>{0xC0});
}

TEST(ReceiverPatchClass, DescribesItselfAsAProviderWithOneStructureOutputAndNoSettings) {
  PlugInRegistry registry;
  registerWexPatches(registry);
  const QCPlugInClass& receiver = *registry.classNamed("MIDI_ReceiverPlugIn");
  EXPECT_EQ(receiver.displayName(), "wex MIDI Receiver");
  EXPECT_EQ(receiver.description().rfind("MIDI Receiver returns a structure of received "
                                         "messages. The messages are either numbers (for "
                                         "everything but sysex messages) or strings of numbers "
                                         "seperated by commas (for sysex messages).\r\r",
                                         0),
            0u);
  EXPECT_EQ(receiver.executionMode, QCPlugInExecutionMode::Provider);
  EXPECT_EQ(receiver.timeMode, QCPlugInTimeMode::Idle);
  EXPECT_FALSE(receiver.plugInKeys.has_value());
  ASSERT_EQ(receiver.propertyPorts.size(), 1u);
  EXPECT_EQ(receiver.propertyPorts[0].key, "outputMessages");
  EXPECT_EQ(receiver.propertyPorts[0].direction, QCPortDirection::Output);
  EXPECT_EQ(receiver.propertyPorts[0].type, QCPortType::Structure);
}

}  // namespace
}  // namespace wex

namespace wex {
namespace {

TEST_F(ReceiverPatchTest, WhileTooManyMessagesWaitTheOldestAreDroppedCountedAndLoggedPerFlood) {
  auto& receiver = addReceiver();
  SystemLog::Capture log;
  OrvMIDIMessageList sent;
  const size_t total = MIDI_ReceiverPlugIn::kMaxPendingMessages + 10;
  for (size_t i = 0; i < total; ++i) {
    sent.push_back(OrvMIDIMessage::createFromVals(0xB0, 0, (i >> 7) & 0x7F, i & 0x7F));
  }
  for (size_t at = 0; at < total; at += 1000) {
    receiver.receivedMIDI(
        OrvMIDIMessageList(sent.begin() + at, sent.begin() + std::min(at + 1000, total)));
  }
  auto waiting = receiver.receivedMessages();
  ASSERT_EQ(waiting.size(), MIDI_ReceiverPlugIn::kMaxPendingMessages);
  EXPECT_EQ(waiting.front(), sent[10]);
  EXPECT_EQ(waiting.back(), sent.back());
  EXPECT_EQ(receiver.droppedMessages(), 10u);

  receiver.receivedMIDI({sent[0], sent[1], sent[2]});
  EXPECT_EQ(receiver.droppedMessages(), 13u);
  EXPECT_EQ(receiver.receivedMessages().front(), sent[13]);
  EXPECT_EQ(log.lines(),
            std::vector<std::string>{
                "\twex MIDI Receiver: more than 262144 messages waiting, dropping the oldest"});

  waiting.clear();
  tick();
  EXPECT_EQ(messages().size(), MIDI_ReceiverPlugIn::kMaxPendingMessages);
  EXPECT_TRUE(receiver.receivedMessages().empty());

  // The list emptied: the next overflow is a new flood, logged with the count
  // of the one before.
  for (size_t at = 0; at < total; at += 1000) {
    receiver.receivedMIDI(
        OrvMIDIMessageList(sent.begin() + at, sent.begin() + std::min(at + 1000, total)));
  }
  EXPECT_EQ(receiver.droppedMessages(), 23u);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[1],
            "\twex MIDI Receiver: more than 262144 messages waiting, dropping the oldest (13 "
            "dropped in the flood before)");
}

}  // namespace
}  // namespace wex
