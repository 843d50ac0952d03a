#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "EmbeddedServicesFixture.h"
#include "midi/OrvMIDINode.h"

namespace wex {
namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<Byte>;

OrvMIDIMessagePtr sysexOf(size_t count, int32_t value = 0x11) {
  return OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>(count, value));
}

// ---- creation failures ------------------------------------------------------

struct CreationFailure {
  const char* testName;
  const char* kind;  // which factory
  const char* operation;
  const char* line;
};

class NodeCreationFailure : public EmbeddedServicesFixture,
                            public ::testing::WithParamInterface<CreationFailure> {
 protected:
  std::shared_ptr<OrvMIDINode> make(const std::string& kind) {
    if (kind == "receiverWithEndpoint") {
      return OrvMIDINode::initReceiverWithEndpoint(services->loopbackSource());
    }
    if (kind == "receiverWithName") return OrvMIDINode::initReceiverWithName("to wex MIDI");
    if (kind == "senderWithEndpoint") {
      return OrvMIDINode::initSenderWithEndpoint(services->loopbackDestination());
    }
    return OrvMIDINode::initSenderWithName("From wex MIDI");
  }
};

TEST_P(NodeCreationFailure, LogsItsLineWithTheStatusYieldsNullAndDisposesOfTheClient) {
  const CreationFailure& failure = GetParam();
  services->faults().failNext(failure.operation, -50);
  EXPECT_EQ(make(failure.kind), nullptr);
  EXPECT_EQ(log.lines(), Lines{failure.line});
  EXPECT_EQ(services->clientCount(), 0u);
  EXPECT_EQ(services->portCount(), 0u);
  EXPECT_EQ(services->MIDIGetNumberOfSources(), 1u);  // only the loopback bus is left
  EXPECT_EQ(services->MIDIGetNumberOfDestinations(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, NodeCreationFailure,
    ::testing::Values(
        CreationFailure{"ReceiverClient", "receiverWithEndpoint", "MIDIClientCreate",
                        "\t\terror -50 at MIDIClientCreate() A"},
        CreationFailure{"ReceiverPort", "receiverWithEndpoint", "MIDIInputPortCreate",
                        "\t\terror -50 at MIDIInputPortCreate() A"},
        CreationFailure{"ReceiverConnection", "receiverWithEndpoint", "MIDIPortConnectSource",
                        "\t\terror -50 at MIDIPortConnectSource() A"},
        CreationFailure{"VirtualReceiverClient", "receiverWithName", "MIDIClientCreate",
                        "\t\terror -50 at MIDIClientCreate B"},
        CreationFailure{"VirtualReceiverDestination", "receiverWithName", "MIDIDestinationCreate",
                        "\t\terror -50 at MIDIDestinationCreate() A"},
        CreationFailure{"VirtualReceiverPort", "receiverWithName", "MIDIInputPortCreate",
                        "\t\terror -50 at MIDIInputPortCreate B"},
        CreationFailure{"SenderClient", "senderWithEndpoint", "MIDIClientCreate",
                        "\t\terr -50 at MIDIClientCreate C"},
        CreationFailure{"SenderPort", "senderWithEndpoint", "MIDIOutputPortCreate",
                        "\t\terr -50 at MIDIOutputPortCreate A"},
        CreationFailure{"VirtualSenderClient", "senderWithName", "MIDIClientCreate",
                        "\t\terror -50 at MIDIClientCreate D"},
        CreationFailure{"VirtualSenderSource", "senderWithName", "MIDISourceCreate",
                        "\t\terror -50 at MIDISourceCreate A"},
        CreationFailure{"VirtualSenderPort", "senderWithName", "MIDIOutputPortCreate",
                        "\t\terror -50 at MIDIOutputPortCreate B"}),
    [](const auto& info) { return std::string(info.param.testName); });

// ---- creation ---------------------------------------------------------------

class OrvMIDINodeTest : public EmbeddedServicesFixture {};

TEST_F(OrvMIDINodeTest, ZeroEndpointsAndNullNamesYieldNullWithoutALogLine) {
  EXPECT_EQ(OrvMIDINode::initReceiverWithEndpoint(0), nullptr);
  EXPECT_EQ(OrvMIDINode::initSenderWithEndpoint(0), nullptr);
  EXPECT_EQ(OrvMIDINode::initReceiverWithName(std::nullopt), nullptr);
  EXPECT_EQ(OrvMIDINode::initSenderWithName(std::nullopt), nullptr);
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(services->clientCount(), 0u);
}

TEST_F(OrvMIDINodeTest, NewNodeIsEnabledWithoutDelegateOrSysexStateAndOfItsKind) {
  const auto receiver = OrvMIDINode::initReceiverWithEndpoint(services->loopbackSource());
  const auto sender = OrvMIDINode::initSenderWithEndpoint(services->loopbackDestination());
  const auto virtualSender = OrvMIDINode::initSenderWithName("From wex MIDI");
  ASSERT_TRUE(receiver && sender && virtualSender);
  EXPECT_TRUE(receiver->enabled());
  EXPECT_EQ(receiver->delegate(), nullptr);
  EXPECT_FALSE(receiver->processingSysex());
  EXPECT_EQ(receiver->processingSysexIterationCount(), 0);
  EXPECT_TRUE(receiver->sysexArray().empty());
  EXPECT_TRUE(receiver->receiver());
  EXPECT_FALSE(receiver->sender());
  EXPECT_TRUE(sender->sender());
  EXPECT_FALSE(sender->receiver());
  EXPECT_FALSE(sender->virtualSender());
  EXPECT_TRUE(virtualSender->sender());
  EXPECT_TRUE(virtualSender->virtualSender());
}

TEST_F(OrvMIDINodeTest, BoundNodeTakesTheEndpointsNameAndUniqueID) {
  const MIDIEndpointRef device = services->createDeviceDestination("Synth");
  int32_t uniqueID = 0;
  ASSERT_EQ(services->MIDIObjectGetIntegerProperty(device, kMIDIPropertyUniqueID, &uniqueID),
            noErr);
  const auto node = OrvMIDINode::initSenderWithEndpoint(device);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->name(), "Synth");
  EXPECT_EQ(node->description(), "<OrvMIDINode: Synth>");
  EXPECT_EQ(std::get<std::string>(node->properties().at("name")), "Synth");
  EXPECT_EQ(std::get<int32_t>(node->properties().at("uniqueID")), uniqueID);
  EXPECT_EQ(services->clientNames(), Lines{"clientName"});
}

TEST_F(OrvMIDINodeTest, FailedPropertyQueriesAreLoggedAndTheNodeIsStillMade) {
  const MIDIEndpointRef device = services->createDeviceSource("Keys");
  services->faults().failNext("MIDIObjectGetStringProperty", -3);
  services->faults().failNext("MIDIObjectGetIntegerProperty", -4);
  const auto node = OrvMIDINode::initReceiverWithEndpoint(device);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->name(), std::nullopt);
  EXPECT_TRUE(node->properties().empty());
  EXPECT_EQ(log.lines(), (Lines{"\t\terror -3 at MIDIObjectGetStringProperty()",
                                "\t\terror -4 at MIDIObjectGetIntegerProperty()"}));
}

TEST_F(OrvMIDINodeTest, EndpointWithoutANameGivesANodeWithoutANameAndNoLogLine) {
  const auto node = OrvMIDINode::initReceiverWithEndpoint(services->createDeviceSource({}));
  ASSERT_TRUE(node);
  EXPECT_EQ(node->name(), std::nullopt);
  EXPECT_EQ(node->description(), "<OrvMIDINode: (null)>");
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(OrvMIDINodeTest, VirtualSenderPublishesASourceAndClientUnderItsName) {
  const auto node = OrvMIDINode::initSenderWithName("From wex MIDI");
  ASSERT_TRUE(node);
  ASSERT_EQ(services->MIDIGetNumberOfSources(), 2u);
  std::optional<std::string> name;
  services->MIDIObjectGetStringProperty(services->MIDIGetSource(1), kMIDIPropertyName, &name);
  EXPECT_EQ(name, "From wex MIDI");
  EXPECT_EQ(services->clientNames(), Lines{"From wex MIDI"});
  EXPECT_EQ(node->description(), "<OrvMIDINode: From wex MIDI>");
}

TEST_F(OrvMIDINodeTest, ReleasingTheNodeDisposesOfItsClientPortsAndVirtualEndpoint) {
  auto node = OrvMIDINode::initReceiverWithName("to wex MIDI");
  ASSERT_TRUE(node);
  EXPECT_EQ(services->MIDIGetNumberOfDestinations(), 2u);
  node.reset();
  EXPECT_EQ(services->clientCount(), 0u);
  EXPECT_EQ(services->portCount(), 0u);
  EXPECT_EQ(services->MIDIGetNumberOfDestinations(), 1u);
}

// ---- sending ----------------------------------------------------------------

struct WireCase {
  const char* testName;
  std::function<OrvMIDIMessagePtr()> make;
  Bytes expected;
};

class NodeSendsBytes : public EmbeddedServicesFixture,
                       public ::testing::WithParamInterface<WireCase> {};

TEST_P(NodeSendsBytes, AsOneEventAtTimeZero) {
  const MIDIEndpointRef device = services->createDeviceDestination("Synth");
  const auto node = OrvMIDINode::initSenderWithEndpoint(device);
  ASSERT_TRUE(node);
  node->sendMsg(GetParam().make());
  waitForDelivery();
  const auto packets = services->recording(device)->packets();
  ASSERT_EQ(packets.size(), 1u);
  EXPECT_EQ(packets[0].timeStamp, 0u);
  EXPECT_EQ(packets[0].bytes, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, NodeSendsBytes,
    ::testing::Values(
        WireCase{"NoteOn",
                 [] { return OrvMIDIMessage::createFromVals(0x90, 1, 60, 100); },
                 {0x91, 0x3C, 0x64}},  // note on channel 2 C4 velocity 100
        WireCase{"ProgramChange",
                 [] { return OrvMIDIMessage::createFromVals(0xC0, 1, 5, 0); },
                 {0xC1, 0x05}},  // program change channel 2 program 5
        WireCase{"ChannelPressure",
                 [] { return OrvMIDIMessage::createFromVals(0xD0, 2, 9, 0); },
                 {0xD2, 0x09}},  // channel pressure channel 3 value 9
        WireCase{"ParsedClock", [] { return OrvMIDIMessage::createWithType(0xF8, 0); }, {0xF8}},
        WireCase{"SongPosition",
                 [] { return OrvMIDIMessage::createFromVals(0xF2, 0, 0, 0x40); },
                 {0xF2, 0x00, 0x40}},  // song position 8192
        WireCase{
            "Sysex",
            [] {
              return OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{126, 127, 6, 1});
            },
            {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}},  // sysex: identity request
        WireCase{"SysexTypeWithoutList",
                 [] { return OrvMIDIMessage::createFromVals(0xF0, 0, 0, 0); },
                 {0xF0, 0xF7}}),  // empty sysex
    [](const auto& info) { return std::string(info.param.testName); });

class NodeSending : public EmbeddedServicesFixture {
 protected:
  void SetUp() override {
    device = services->createDeviceDestination("Synth");
    node = OrvMIDINode::initSenderWithEndpoint(device);
    ASSERT_TRUE(node);
  }
  std::vector<EmbeddedRecordedPacket> packets() {
    waitForDelivery();
    return services->recording(device)->packets();
  }
  size_t lists() {
    waitForDelivery();
    return services->recording(device)->listCount();
  }

  MIDIEndpointRef device = 0;
  std::shared_ptr<OrvMIDINode> node;
  // note on channel 1 C4 velocity 100, and its note off with velocity 0
  const OrvMIDIMessagePtr noteOn = OrvMIDIMessage::createFromVals(0x90, 0, 60, 100);
  const OrvMIDIMessagePtr noteOff = OrvMIDIMessage::createFromVals(0x80, 0, 60, 0);
};

TEST_F(NodeSending, SysexOf1008ElementsGoesOutAndOneOf1009IsRefusedWithItsLogLine) {
  node->sendMsg(sysexOf(1008));
  ASSERT_EQ(packets().size(), 1u);
  EXPECT_EQ(packets()[0].bytes.size(), 1010u);
  EXPECT_TRUE(log.lines().empty());

  node->sendMsg(sysexOf(1009));
  EXPECT_EQ(lists(), 1u);
  EXPECT_EQ(log.lines(), Lines{"\terr adding new sysex packet"});
}

TEST_F(NodeSending, AfterAFailedAddTheNextCallSendsOnlyItsOwnMessage) {
  node->sendMsgs({noteOn, sysexOf(1009)});
  EXPECT_EQ(lists(), 0u);
  EXPECT_EQ(log.lines(), Lines{"\terr adding new sysex packet"});
  node->sendMsg(noteOff);
  ASSERT_EQ(packets().size(), 1u);
  EXPECT_EQ(packets()[0].bytes, (Bytes{0x80, 60, 0}));  // note off channel 1 C4 velocity 0
}

TEST_F(NodeSending, ShortMessagesThatDoNotFitAreRefusedWithTheirLogLine) {
  OrvMIDIMessageList many(400, noteOn);  // 1200 bytes
  node->sendMsgs(many);
  EXPECT_EQ(lists(), 0u);
  EXPECT_EQ(log.lines(), Lines{"\t\terror adding new packet"});
}

TEST_F(NodeSending, AfterAFailedSendTheNextCallSendsOnlyItsOwnMessage) {
  services->faults().failNext("MIDISend", -7);
  node->sendMsg(noteOn);
  EXPECT_EQ(log.lines(), Lines{"\t\terr -7 at MIDISend A"});
  node->sendMsg(noteOff);
  ASSERT_EQ(packets().size(), 1u);
  EXPECT_EQ(packets()[0].bytes, (Bytes{0x80, 60, 0}));  // note off channel 1 C4 velocity 0
}

TEST_F(NodeSending, NotesOfAListRefusedOrNotSentAreNotReleasedLater) {
  services->faults().failNext("MIDISend", -7);
  node->sendMsg(noteOn);
  OrvMIDIMessageList tooMany(400, OrvMIDIMessage::createFromVals(0x90, 1, 61, 100));
  node->sendMsgs(tooMany);
  EXPECT_EQ(lists(), 0u);
  node->releaseSoundingNotes();
  EXPECT_EQ(lists(), 0u);
}

TEST_F(NodeSending, TwoCallsInARowEachSendOnlyTheirOwnMessage) {
  node->sendMsg(noteOn);
  node->sendMsg(noteOff);
  EXPECT_EQ(lists(), 2u);
  // note on channel 1 C4 velocity 100, note off channel 1 C4 velocity 0
  EXPECT_EQ(services->recording(device)->bytes(), (Bytes{0x90, 60, 100, 0x80, 60, 0}));
}

TEST_F(NodeSending, SendMsgsPutsANoteAndAFramedSysexIntoOnePacketList) {
  node->sendMsgs({noteOn, OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{1, 2})});
  EXPECT_EQ(lists(), 1u);
  const auto sent = packets();
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_EQ(sent[0].bytes, (Bytes{0x90, 60, 100}));     // note on channel 1 C4 velocity 100
  EXPECT_EQ(sent[1].bytes, (Bytes{0xF0, 1, 2, 0xF7}));  // sysex of 2 data bytes
}

TEST_F(NodeSending, DisabledNodesReceiversNullsAndEmptyListsSendNothingAndLogNothing) {
  node->setEnabled(false);
  node->sendMsg(noteOn);
  node->sendMsgs({noteOn});
  node->setEnabled(true);
  node->sendMsg(nullptr);
  node->sendMsgs({});
  const auto receiver = OrvMIDINode::initReceiverWithEndpoint(services->loopbackSource());
  receiver->sendMsg(noteOn);
  EXPECT_EQ(lists(), 0u);
  EXPECT_TRUE(log.lines().empty());
}

TEST_F(NodeSending, VirtualSenderPublishesOnItsSourceAndLogsAFailedPublish) {
  const auto publisher = OrvMIDINode::initSenderWithName("From wex MIDI");
  const auto listener = OrvMIDINode::initReceiverWithEndpoint(services->MIDIGetSource(1));
  ASSERT_TRUE(publisher && listener);
  listener->setDelegate(&delegate);

  services->faults().failNext("MIDIReceived", -9);
  publisher->sendMsg(noteOn);
  EXPECT_EQ(log.lines(), Lines{"\t\terr -9 at MIDIReceived A"});
  publisher->sendMsg(noteOff);
  waitForDelivery();
  EXPECT_EQ(delegate.wireMessages(), (std::vector<Bytes>{{0x80, 60, 0}}));  // the note off
}

// A sysex of `count` data bytes that differ from their neighbours, so that a
// piece out of place shows.
OrvMIDIMessagePtr patternedSysexOf(size_t count) {
  std::vector<int32_t> data(count);
  for (size_t i = 0; i < count; ++i) data[i] = static_cast<int32_t>(i * 7 % 128);
  return OrvMIDIMessage::createWithSysexArray(data);
}

Bytes wireBytesOf(const OrvMIDIMessage& msg) {
  Bytes bytes(msg.wireLength());
  msg.writeWireBytes(bytes.data());
  return bytes;
}

TEST_F(NodeSending, SysexTooLongForOnePacketListGoesOutInOrderedPiecesOfOneListEach) {
  // Data bytes, and the lists they take: 1010 wire bytes fill one list.
  for (const auto& [dataBytes, expectedLists] :
       std::vector<std::pair<size_t, size_t>>{{1008, 1}, {1009, 2}, {2018, 2}, {19998, 20}}) {
    services->recording(device)->clear();
    const auto sysex = patternedSysexOf(dataBytes);
    node->sendMsgInPieces(sysex);
    EXPECT_EQ(lists(), expectedLists) << dataBytes;
    Bytes joined;
    for (const auto& packet : packets()) {
      EXPECT_LE(packet.bytes.size(), OrvMIDINode::kMaxPacketData);
      joined.insert(joined.end(), packet.bytes.begin(), packet.bytes.end());
    }
    EXPECT_EQ(joined, wireBytesOf(*sysex)) << dataBytes;
  }
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(node->unsentCount(), 0u);
}

TEST_F(NodeSending, PiecesOfALongSysexArriveAsTheWholeMessageThroughTheLoopback) {
  const auto sender = OrvMIDINode::initSenderWithEndpoint(services->loopbackDestination());
  const auto listener = OrvMIDINode::initReceiverWithEndpoint(services->loopbackSource());
  ASSERT_TRUE(sender && listener);
  listener->setDelegate(&delegate);
  const auto sysex = patternedSysexOf(19998);
  sender->sendMsgInPieces(sysex);
  sender->sendMsgInPieces(noteOn);
  waitForDelivery();
  // the sysex whole, then the note on
  EXPECT_EQ(delegate.wireMessages(), (std::vector<Bytes>{wireBytesOf(*sysex), {0x90, 60, 100}}));
}

TEST_F(NodeSending, APieceTheServicesRefuseEndsTheSysexCountedAndLogged) {
  services->faults().failNext("MIDISend", -7);
  node->sendMsgInPieces(patternedSysexOf(5000));
  EXPECT_EQ(lists(), 0u);
  EXPECT_EQ(log.lines(), Lines{"\t\terr -7 at MIDISend A"});
  EXPECT_EQ(node->unsentCount(), 1u);
}

// ---- receiving --------------------------------------------------------------

class NodeReceiving : public EmbeddedServicesFixture {
 protected:
  void SetUp() override {
    keys = services->createDeviceSource("Keys");
    node = OrvMIDINode::initReceiverWithEndpoint(keys);
    ASSERT_TRUE(node);
    node->setDelegate(&delegate);
  }
  void feed(const Bytes& bytes) {
    ASSERT_EQ(services->feedSourceBytes(keys, bytes), noErr);
    waitForDelivery();
  }

  MIDIEndpointRef keys = 0;
  std::shared_ptr<OrvMIDINode> node;
};

TEST_F(NodeReceiving, EnabledNodeHandsTheParsedMessagesToItsDelegate) {
  feed({0x90, 0x3C, 0x64, 0xF8});  // note on channel 1 C4 velocity 100, clock
  const auto lists = delegate.lists();
  ASSERT_EQ(lists.size(), 1u);
  ASSERT_EQ(lists[0].size(), 2u);
  EXPECT_EQ(lists[0][0]->type(), 0x90);
  EXPECT_EQ(lists[0][0]->data1(), 60);
  EXPECT_EQ(lists[0][0]->data2(), 100);
  EXPECT_EQ(lists[0][1]->type(), 0xF8);
}

TEST_F(NodeReceiving, DisabledNodeParsesAndKeepsItsSysexStateButDeliversNothing) {
  node->setEnabled(false);
  feed({0xF0, 0x7E, 0x7F});  // sysex start and 2 data bytes
  EXPECT_TRUE(node->processingSysex());
  EXPECT_EQ(node->sysexArray(), (std::vector<int32_t>{0x7E, 0x7F}));
  feed({0x06, 0xF7, 0x90, 1, 2});  // last data byte, sysex end, note on channel 1 C#-1 velocity 2
  EXPECT_FALSE(node->processingSysex());
  EXPECT_TRUE(delegate.lists().empty());

  node->setEnabled(true);
  feed({0xF0, 0x01, 0xF7});  // sysex of 1 data byte
  EXPECT_EQ(delegate.wireMessages(), (std::vector<Bytes>{{0xF0, 0x01, 0xF7}}));
}

TEST_F(NodeReceiving, SetupChangesReachTheDelegateWhetherEnabledOrNot) {
  node->setEnabled(false);
  const MIDINotification setupChanged{kMIDIMsgSetupChanged, sizeof(MIDINotification)};
  myMIDINotificationProc(&setupChanged, node.get());
  EXPECT_EQ(delegate.setupChanges, 1);
}

TEST_F(NodeReceiving, NotificationsOtherThanSetupChangedAreIgnored) {
  for (MIDINotificationMessageID id : {0, 2, 3, -1, 1000}) {
    const MIDINotification other{id, sizeof(MIDINotification)};
    myMIDINotificationProc(&other, node.get());
  }
  EXPECT_EQ(delegate.setupChanges, 0);
}

TEST_F(NodeReceiving, DelegateThatOnlyCaresForSetupChangesGetsNoMessagesAndNoError) {
  struct SetupOnly : OrvMIDIDelegateProtocol {
    std::atomic<int> changes{0};
    void setupChanged() override { ++changes; }
  } setupOnly;
  node->setDelegate(&setupOnly);
  feed({0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  const MIDINotification setupChanged{kMIDIMsgSetupChanged, sizeof(MIDINotification)};
  myMIDINotificationProc(&setupChanged, node.get());
  EXPECT_EQ(setupOnly.changes, 1);
  EXPECT_TRUE(delegate.lists().empty());
  EXPECT_TRUE(log.lines().empty());
  node->setDelegate(nullptr);
}

TEST_F(OrvMIDINodeTest, VirtualReceiverGetsWhatIsSentToItsDestinationAndHearsSetupChanges) {
  const auto node = OrvMIDINode::initReceiverWithName("to wex MIDI");
  ASSERT_TRUE(node);
  node->setDelegate(&delegate);
  const auto sender = OrvMIDINode::initSenderWithEndpoint(services->MIDIGetDestination(1));
  ASSERT_TRUE(sender);
  EXPECT_EQ(sender->name(), "to wex MIDI");
  // control change channel 4 controller 7 value 99
  sender->sendMsg(OrvMIDIMessage::createFromVals(0xB0, 3, 7, 99));
  waitForDelivery();
  EXPECT_EQ(delegate.wireMessages(), (std::vector<Bytes>{{0xB3, 7, 99}}));

  ASSERT_TRUE(services->waitUntilNotified(10));
  const int before = delegate.setupChanges;
  services->createDeviceSource("New keys");
  ASSERT_TRUE(services->waitUntilNotified(10));
  EXPECT_GT(delegate.setupChanges, before);
}

TEST_F(OrvMIDINodeTest, SenderNodeToTheLoopbackBusReachesAReceiverNodeOnItsSource) {
  const auto sender = OrvMIDINode::initSenderWithEndpoint(services->loopbackDestination());
  const auto receiver = OrvMIDINode::initReceiverWithEndpoint(services->loopbackSource());
  ASSERT_TRUE(sender && receiver);
  EXPECT_EQ(sender->name(), "wexmidi Loopback");
  receiver->setDelegate(&delegate);

  const OrvMIDIMessageList sent = {
      OrvMIDIMessage::createFromVals(0x90, 0, 60, 100),   // note on channel 1 C4 velocity 100
      OrvMIDIMessage::createFromVals(0xE0, 15, 0, 0x40),  // pitch bend channel 16 8192 (centre)
      // sysex: identity request
      OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{126, 127, 6, 1}),
      OrvMIDIMessage::createFromVals(0xC0, 4, 12, 0),  // program change channel 5 program 12
  };
  sender->sendMsg(sent[0]);
  sender->sendMsgs({sent[1], sent[2]});
  sender->sendMsg(sent[3]);
  waitForDelivery();

  std::vector<Bytes> expected;
  for (const auto& message : sent) {
    Bytes bytes(message->wireLength());
    message->writeWireBytes(bytes.data());
    expected.push_back(bytes);
  }
  EXPECT_EQ(delegate.wireMessages(), expected);
  const auto lists = delegate.lists();
  ASSERT_EQ(lists.size(), 3u);
  EXPECT_EQ(lists[1][1]->sysexArray() ? *lists[1][1]->sysexArray() : std::vector<int32_t>{},
            (std::vector<int32_t>{126, 127, 6, 1}));
}

}  // namespace
}  // namespace wex
