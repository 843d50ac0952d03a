#include <jack/jack.h>
#include <jack/metadata.h>
#include <jack/midiport.h>

#include <algorithm>
#include <array>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "app/WexmidiProgram.h"
#include "jack/JackServicesFixture.h"
#include "services/jack/JackClientLedger.h"
#include "support/SystemLog.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

Bytes sysexOfLength(size_t length) {
  Bytes sysex{0xF0};
  while (sysex.size() < length - 1) sysex.push_back(static_cast<Byte>(sysex.size() * 7 & 0x7F));
  sysex.push_back(0xF7);
  return sysex;
}

bool contains(const std::vector<Bytes>& events, const Bytes& wanted) {
  return std::find(events.begin(), events.end(), wanted) != events.end();
}

// Sets or deletes metadata through jack_property, in a process of its own:
// libjack's metadata calls share state within a process, and the services
// under test make theirs from their own thread.
bool runJackProperty(const std::vector<std::string>& arguments) {
  std::vector<std::string> command{"jack_property"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  ChildProcess tool(command, jackEnvironment());
  return tool.waitForExit(kJackWait);
}

// PipeWire's JACK (0.3.65) stores what jack_property sets, but its other
// clients see the change only now and then (their property callback mostly
// never comes), so no pretty name can be counted on there.
constexpr const char* kPipeWireMetadataSkipReason =
    "PipeWire's JACK rarely passes a pretty name set by another client on to this one";

// A JACK client of the test's own, with ports named in the three ways.
class NamedPortsClient {
 public:
  explicit NamedPortsClient(const std::string& name) : name_(name) {
    client_ = JackClientLedger::open(name);
    if (!client_) return;
    plain_ = jack_port_register(client_, "plain", JACK_DEFAULT_MIDI_TYPE,
                                JackPortIsOutput | JackPortIsPhysical, 0);
    aliased_ = jack_port_register(client_, "aliased", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_port_set_alias(aliased_, "Alias Keys");
    pretty_ = jack_port_register(client_, "pretty", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_port_set_alias(pretty_, "Alias Synth");
    prettySet_ = runJackProperty(
        {"--port", "-s", name + ":pretty", JACK_METADATA_PRETTY_NAME, "Pretty Synth"});
    jack_activate(client_);
  }
  ~NamedPortsClient() {
    if (!client_) return;
    // The server keeps a port's metadata after the port is gone and hands
    // its identifier to the next port; a tidy client removes what it set.
    // PipeWire's JACK removes nothing, so the name is made empty there.
    if (prettySet_) runJackProperty({"--port", "-d", name_ + ":pretty"});
    if (prettySet_ && onPipeWire()) {
      jack_set_property(client_, jack_port_uuid(pretty_), JACK_METADATA_PRETTY_NAME, "",
                        "text/plain");
    }
    JackClientLedger::close(client_);
  }
  bool ok() const { return client_ && plain_ && aliased_ && pretty_ && prettySet_; }

 private:
  std::string name_;
  jack_client_t* client_ = nullptr;
  jack_port_t* plain_ = nullptr;
  jack_port_t* aliased_ = nullptr;
  jack_port_t* pretty_ = nullptr;
  bool prettySet_ = false;
};

// A JACK client of the test's own with one MIDI input port, active from the
// start, that keeps the first events it receives.
class RecordingClient {
 public:
  static constexpr size_t kCapacity = 16;

  explicit RecordingClient(const std::string& name) {
    client_ = JackClientLedger::open(name);
    if (!client_) return;
    port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client_, &RecordingClient::process, this);
    active_ = jack_activate(client_) == 0;
  }
  ~RecordingClient() {
    if (client_) JackClientLedger::close(client_);
  }
  bool ok() const { return client_ && port_ && active_; }

  std::vector<Bytes> events() const {
    std::vector<Bytes> result;
    const size_t count = std::min(count_.load(), kCapacity);
    for (size_t i = 0; i < count; ++i) result.push_back(events_[i]);
    return result;
  }

 private:
  // Copies into room made beforehand: nothing is allocated here.
  static int process(jack_nframes_t nframes, void* arg) {
    auto* self = static_cast<RecordingClient*>(arg);
    void* buffer = jack_port_get_buffer(self->port_, nframes);
    const uint32_t count = jack_midi_get_event_count(buffer);
    for (uint32_t i = 0; i < count; ++i) {
      jack_midi_event_t event;
      const size_t slot = self->count_.load();
      if (slot == kCapacity || jack_midi_event_get(&event, buffer, i) != 0) continue;
      Bytes& stored = self->events_[slot];
      stored.assign(event.buffer, event.buffer + std::min<size_t>(event.size, stored.capacity()));
      self->count_.store(slot + 1);
    }
    return 0;
  }

  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
  bool active_ = false;
  std::array<Bytes, kCapacity> events_ = [] {
    std::array<Bytes, kCapacity> room;
    for (Bytes& bytes : room) bytes.reserve(3);
    return room;
  }();
  std::atomic<size_t> count_{0};
};

TEST_F(JackServicesTest, NotesOfJackMidiseqReachTheReadCallbackWithTheirBytes) {
  const std::string name = uniqueName("seq");
  JackClientProcess sequencer(
      name, {"jack_midiseq", name, "4800", "0", "60", "1000", "2400", "64", "1000"},
      jackEnvironment());
  const MIDIEndpointRef source = waitForEndpoint(*services_, true, name + ":out");
  ASSERT_NE(source, 0u) << sequencer.output();

  PacketCollector& collector = newCollector();
  const MIDIPortRef port = makeInputPort(makeClient(), collector);
  ASSERT_EQ(services_->MIDIPortConnectSource(port, source, nullptr), noErr);
  ASSERT_TRUE(waitUntil([&] { return collector.count() >= 8; }, kJackWait));

  const std::vector<Bytes> expected{{0x90, 0x3C, 0x40},   // note on channel 1 C4 velocity 64
                                    {0x80, 0x3C, 0x40},   // note off channel 1 C4 velocity 64
                                    {0x90, 0x40, 0x40},   // note on channel 1 E4 velocity 64
                                    {0x80, 0x40, 0x40}};  // note off channel 1 E4 velocity 64
  const auto packets = collector.packets();
  for (const Bytes& packet : packets) EXPECT_TRUE(contains(expected, packet));
  for (const Bytes& message : expected) EXPECT_TRUE(contains(packets, message));
}

TEST_F(JackServicesTest, MessagesSentToJackMidiDumpArriveByteForByte) {
  const std::string name = uniqueName("dump");
  JackClientProcess dump(name, {"stdbuf", "-oL", "jack_midi_dump", name}, jackEnvironment());
  const MIDIEndpointRef destination = waitForEndpoint(*services_, false, name + ":input");
  ASSERT_NE(destination, 0u) << dump.output();
  const MIDIPortRef port = makeOutputPort(makeClient());
  // The port is there a moment before jack_midi_dump runs, and what comes in
  // between is lost: knock (active sensing) until it answers.
  const Bytes knock{0xFE};  // active sensing
  MIDIPacketListBuffer knockList;
  knockList.addPacket(knock);
  ASSERT_TRUE(waitUntil(
      [&] {
        services_->MIDISend(port, destination, knockList.list());
        return !dumpedEvents(dump.output()).empty();
      },
      kJackWait));

  const std::vector<Bytes> shortMessages{
      {0x91, 0x3C, 0x64},  // note on channel 2 C4 velocity 100
      {0x81, 0x3C, 0x00},  // note off channel 2 C4 velocity 0
      {0x97, 0x40, 0x00},  // note on channel 8 E4 velocity 0
      {0xB2, 0x07, 0x7F},  // control change channel 3 controller 7 value 127
      {0xC3, 0x05},        // program change channel 4 program 5
      {0xD4, 0x33},        // channel pressure channel 5 value 51
      {0xE5, 0x00, 0x40},  // pitch bend channel 6 8192 (centre)
      {0xA6, 0x3C, 0x10},  // poly pressure channel 7 C4 value 16
      {0xF2, 0x10, 0x20},  // song position 4112
      {0xF3, 0x05},        // song select 5
      {0xF6},              // tune request
      {0xF8},              // clock
      {0xFA},              // start
      {0xFC},              // stop
      {0xFF}};             // system reset
  MIDIPacketListBuffer list;
  for (const Bytes& message : shortMessages) ASSERT_TRUE(list.add(message.data(), message.size()));
  ASSERT_EQ(services_->MIDISend(port, destination, list.list()), noErr);
  const Bytes sysex = sysexOfLength(1010);
  MIDIPacketListBuffer sysexList;
  ASSERT_TRUE(sysexList.addPacket(sysex));
  ASSERT_EQ(services_->MIDISend(port, destination, sysexList.list()), noErr);
  EXPECT_TRUE(services_->waitUntilDelivered(5));

  std::vector<Bytes> expected = shortMessages;
  // PipeWire turns a note on with velocity 0 into a note off with velocity 64.
  if (onPipeWire()) expected[2] = {0x87, 0x40, 0x40};
  expected.push_back(sysex);
  auto afterKnocks = [&] {
    auto events = dumpedEvents(dump.output());
    events.erase(events.begin(), std::find_if(events.begin(), events.end(),
                                              [&](const Bytes& event) { return event != knock; }));
    return events;
  };
  ASSERT_TRUE(waitUntil([&] { return afterKnocks().size() >= expected.size(); }, kJackWait))
      << dump.output();
  EXPECT_EQ(afterKnocks(), expected);
}

TEST_F(JackServicesTest, MessagesSentAtOnceThroughTheConnectionTheFirstOfThemMakesAllArrive) {
  if (slowCyclesLoseOnPipeWire()) GTEST_SKIP() << kSlowCyclesSkipReason;
  const std::string name = uniqueName("recorder");
  RecordingClient recorder(name);
  ASSERT_TRUE(recorder.ok());
  const MIDIEndpointRef destination = waitForEndpoint(*services_, false, name + ":in");
  ASSERT_NE(destination, 0u);
  const MIDIPortRef port = makeOutputPort(makeClient());

  const std::vector<Bytes> notes{{0x90, 0x3C, 0x64},   // note on channel 1 C4 velocity 100
                                 {0x90, 0x40, 0x64},   // note on channel 1 E4 velocity 100
                                 {0x80, 0x3C, 0x00}};  // note off channel 1 C4 velocity 0
  for (const Bytes& note : notes) {
    MIDIPacketListBuffer list;
    list.addPacket(note);
    ASSERT_EQ(services_->MIDISend(port, destination, list.list()), noErr);
  }
  EXPECT_TRUE(services_->waitUntilDelivered(5));
  EXPECT_TRUE(waitUntil([&] { return recorder.events().size() >= notes.size(); }, kJackWait));
  EXPECT_EQ(recorder.events(), notes);
}

TEST_F(JackServicesTest, AClientThatAppearsAfterStartIsListedWithASetupChangedNotification) {
  NotificationCounter& counter = counter_;
  makeClient(&counter);
  const std::string name = uniqueName("late");
  const ItemCount before = services_->MIDIGetNumberOfDestinations();

  JackClientProcess dump(name, {"jack_midi_dump", name}, jackEnvironment());
  const MIDIEndpointRef destination = waitForEndpoint(*services_, false, name + ":input");
  ASSERT_NE(destination, 0u);
  EXPECT_TRUE(waitUntil([&] { return counter.setupChanged > 0; }, kJackWait));
  EXPECT_GE(services_->MIDIGetNumberOfDestinations(), before + 1);
  EXPECT_EQ(nameOf(*services_, destination), name + ":input");
  EXPECT_EQ(integerOf(*services_, destination, kMIDIPropertyOffline), 0);
}

TEST_F(JackServicesTest, AClientThatGoesAwayLeavesTheListWithASetupChangedNotification) {
  NotificationCounter& counter = counter_;
  makeClient(&counter);
  const std::string name = uniqueName("leaving");
  auto other = std::make_unique<NamedPortsClient>(name);
  ASSERT_TRUE(other->ok());
  const MIDIEndpointRef source = waitForEndpoint(*services_, true, name + ":plain");
  ASSERT_NE(source, 0u);
  ASSERT_TRUE(waitUntil([&] { return counter.setupChanged > 0; }, kJackWait));

  const int notified = counter.setupChanged;
  other.reset();
  EXPECT_TRUE(waitUntil([&] { return counter.setupChanged > notified; }, kJackWait));
  EXPECT_TRUE(waitUntil(
      [&] {
        for (ItemCount i = 0; i < services_->MIDIGetNumberOfSources(); ++i) {
          if (services_->MIDIGetSource(i) == source) return false;
        }
        return true;
      },
      kJackWait));
  EXPECT_EQ(integerOf(*services_, source, kMIDIPropertyOffline), 1);
}

TEST_F(JackServicesTest, OwnVirtualEndpointsAreListedButConnectionPortsAreNot) {
  const MIDIClientRef client = makeClient();
  PacketCollector& atDestination = newCollector();
  MIDIEndpointRef virtualSource = 0;
  MIDIEndpointRef virtualDestination = 0;
  ASSERT_EQ(services_->MIDISourceCreate(client, "From wex MIDI", &virtualSource), noErr);
  ASSERT_EQ(services_->MIDIDestinationCreate(client, "To wex MIDI", PacketCollector::readProc,
                                             &atDestination, &virtualDestination),
            noErr);
  PacketCollector& atPort = newCollector();
  const MIDIPortRef in = makeInputPort(client, atPort);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, virtualSource, nullptr), noErr);
  const MIDIPortRef out = makeOutputPort(client);
  MIDIPacketListBuffer list;
  const Bytes note{0x92, 0x40, 0x7F};  // note on channel 3 E4 velocity 127
  list.addPacket(note);
  ASSERT_EQ(services_->MIDISend(out, virtualDestination, list.list()), noErr);

  const std::string ownPrefix = services_->jackClientName() + ":";
  std::vector<std::string> ownSources;
  std::vector<std::string> ownDestinations;
  for (ItemCount i = 0; i < services_->MIDIGetNumberOfSources(); ++i) {
    const MIDIEndpointRef ref = services_->MIDIGetSource(i);
    if (services_->jackPortName(ref).rfind(ownPrefix, 0) == 0)
      ownSources.push_back(*nameOf(*services_, ref));
  }
  for (ItemCount i = 0; i < services_->MIDIGetNumberOfDestinations(); ++i) {
    const MIDIEndpointRef ref = services_->MIDIGetDestination(i);
    if (services_->jackPortName(ref).rfind(ownPrefix, 0) == 0) {
      ownDestinations.push_back(*nameOf(*services_, ref));
    }
  }
  EXPECT_EQ(ownSources, std::vector<std::string>{"From wex MIDI"});
  EXPECT_EQ(ownDestinations, std::vector<std::string>{"To wex MIDI"});
}

TEST_F(JackServicesTest,
       WhatAVirtualSourcePublishesReachesAConnectedPortAndSendsReachAVirtualDestination) {
  const MIDIClientRef client = makeClient();
  MIDIEndpointRef virtualSource = 0;
  ASSERT_EQ(services_->MIDISourceCreate(client, "wex out", &virtualSource), noErr);
  PacketCollector& atDestination = newCollector();
  MIDIEndpointRef virtualDestination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(client, "wex in", PacketCollector::readProc,
                                             &atDestination, &virtualDestination),
            noErr);
  PacketCollector& atPort = newCollector();
  const MIDIPortRef in = makeInputPort(client, atPort);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, virtualSource, nullptr), noErr);

  MIDIPacketListBuffer published;
  // control change channel 1 controller 1 value 2
  published.add(Bytes{0xB0, 0x01, 0x02}.data(), 3);
  published.add(Bytes{0xF8}.data(), 1);  // clock
  ASSERT_EQ(services_->MIDIReceived(virtualSource, published.list()), noErr);
  MIDIPacketListBuffer sent;
  sent.addPacket(Bytes{0x9F, 0x10, 0x20});  // note on channel 16 E0 velocity 32
  ASSERT_EQ(services_->MIDISend(makeOutputPort(client), virtualDestination, sent.list()), noErr);

  EXPECT_TRUE(services_->waitUntilDelivered(5));
  EXPECT_EQ(atPort.packets(), (std::vector<Bytes>{{0xB0, 0x01, 0x02}, {0xF8}}));  // as published
  EXPECT_EQ(atDestination.packets(), (std::vector<Bytes>{{0x9F, 0x10, 0x20}}));
}

TEST_F(JackServicesTest, MoreSysexThanOneCycleCarriesArrivesWholeAndInOrder) {
  const MIDIClientRef client = makeClient();
  PacketCollector& received = newCollector();
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(client, "wex burst", PacketCollector::readProc,
                                             &received, &destination),
            noErr);
  const MIDIPortRef out = makeOutputPort(client);
  std::vector<Bytes> sent;
  // 64 kB: more than a cycle takes on either server.
  for (int i = 0; i < 64; ++i) {
    Bytes sysex = sysexOfLength(1002);
    sysex[1] = static_cast<Byte>(i);
    MIDIPacketListBuffer list;
    list.addPacket(sysex);
    ASSERT_EQ(services_->MIDISend(out, destination, list.list()), noErr);
    sent.push_back(sysex);
  }
  EXPECT_TRUE(services_->waitUntilDelivered(5));
  EXPECT_EQ(received.packets(), sent);
}

TEST_F(JackServicesTest, ASysexSentInPiecesGoesOutAsOneMessage) {
  const MIDIClientRef client = makeClient();
  PacketCollector& received = newCollector();
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(client, "wex pieces", PacketCollector::readProc,
                                             &received, &destination),
            noErr);
  const MIDIPortRef out = makeOutputPort(client);
  // An identity request in three pieces, the last followed by note on channel 1
  // C4 velocity 1.
  for (const Bytes& piece :
       {Bytes{0xF0, 0x7E, 0x7F}, Bytes{0x06, 0x01}, Bytes{0xF7, 0x90, 0x3C, 0x01}}) {
    MIDIPacketListBuffer list;
    list.addPacket(piece);
    ASSERT_EQ(services_->MIDISend(out, destination, list.list()), noErr);
  }
  EXPECT_TRUE(services_->waitUntilDelivered(5));
  EXPECT_EQ(received.packets(),
            (std::vector<Bytes>{{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, {0x90, 0x3C, 0x01}}));
}

TEST_F(JackServicesTest, EndpointsAreNamedByPrettyNameThenAliasThenPortNameAndMarkedPhysical) {
  const std::string name = uniqueName("named");
  NamedPortsClient other(name);
  ASSERT_TRUE(other.ok());
  const MIDIEndpointRef plain = waitForEndpoint(*services_, true, name + ":plain");
  const MIDIEndpointRef aliased = waitForEndpoint(*services_, true, name + ":aliased");
  const MIDIEndpointRef pretty = waitForEndpoint(*services_, false, name + ":pretty");
  ASSERT_TRUE(plain && aliased && pretty);
  EXPECT_EQ(nameOf(*services_, plain), name + ":plain");
  EXPECT_EQ(integerOf(*services_, plain, kMIDIPropertyPhysical), 1);
  EXPECT_EQ(integerOf(*services_, aliased, kMIDIPropertyPhysical), 0);
  if (onPipeWire()) {
    // PipeWire's JACK shows a port's aliases only to the client that set
    // them: to the others the first alias is empty, and the port keeps its
    // JACK name.
    EXPECT_EQ(nameOf(*services_, aliased), name + ":aliased");
    GTEST_SKIP() << kPipeWireMetadataSkipReason;
  }
  EXPECT_EQ(nameOf(*services_, aliased), "Alias Keys");
  EXPECT_TRUE(waitUntil([&] { return nameOf(*services_, pretty) == "Pretty Synth"; }, kJackWait));
}

TEST_F(JackServicesTest, WexmidiListOnJackMarksHardwarePorts) {
  const std::string name = uniqueName("hardware");
  NamedPortsClient other(name);
  ASSERT_TRUE(other.ok());
  ASSERT_NE(waitForEndpoint(*services_, true, name + ":plain"), 0u);

  const char* argv[] = {"wexmidi", "--midi", "jack", "list", "--json"};
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  ASSERT_EQ(WexmidiProgram().run(5, argv, in, out, err), 0) << err.str();
  std::map<std::string, bool> physicalByName;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    const auto entry = nlohmann::json::parse(line);
    if (entry["name"].is_string()) physicalByName[entry["name"]] = entry["physical"];
  }
  ASSERT_TRUE(physicalByName.count(name + ":plain")) << out.str();
  EXPECT_TRUE(physicalByName[name + ":plain"]);
  const std::string aliased = onPipeWire() ? name + ":aliased" : "Alias Keys";
  ASSERT_TRUE(physicalByName.count(aliased)) << out.str();
  EXPECT_FALSE(physicalByName[aliased]);
}

TEST_F(JackServicesTest, UniqueIDsStayTheSameForTheSamePortInAnotherProcessRun) {
  const std::string name = uniqueName("ids");
  NamedPortsClient other(name);
  ASSERT_TRUE(other.ok());
  const MIDIEndpointRef plain = waitForEndpoint(*services_, true, name + ":plain");
  const MIDIEndpointRef aliased = waitForEndpoint(*services_, true, name + ":aliased");
  ASSERT_TRUE(plain && aliased);
  std::string error;
  auto second = JackMIDIServices::open(uniqueName("wextest"), &error);
  ASSERT_TRUE(second) << error;
  const MIDIEndpointRef plainAgain = waitForEndpoint(*second, true, name + ":plain");
  ASSERT_NE(plainAgain, 0u);
  EXPECT_EQ(integerOf(*second, plainAgain, kMIDIPropertyUniqueID),
            integerOf(*services_, plain, kMIDIPropertyUniqueID));
  EXPECT_NE(integerOf(*services_, plain, kMIDIPropertyUniqueID),
            integerOf(*services_, aliased, kMIDIPropertyUniqueID));
}

// Read callbacks that can be held up, to see what waits for them.
struct HeldCallback {
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};
  std::atomic<int> calls{0};
  static void readProc(const MIDIPacketList*, void* refCon, void*) {
    auto* self = static_cast<HeldCallback*>(refCon);
    self->calls++;
    self->entered = true;
    while (!self->release) std::this_thread::sleep_for(1ms);
    self->finished = true;
  }
  static void notifyProc(const MIDINotification*, void* refCon) {
    readProc(nullptr, refCon, nullptr);
  }
};

TEST_F(JackServicesTest, ADestinationWhoseClientComesBackBetweenTwoListingsIsConnectedAgain) {
  if (slowCyclesLoseOnPipeWire()) GTEST_SKIP() << kSlowCyclesSkipReason;
  const std::string name = uniqueName("comeback");
  auto recorder = std::make_unique<RecordingClient>(name);
  ASSERT_TRUE(recorder->ok());
  const MIDIEndpointRef destination = waitForEndpoint(*services_, false, name + ":in");
  ASSERT_NE(destination, 0u);
  const MIDIPortRef port = makeOutputPort(makeClient());
  MIDIPacketListBuffer list;
  list.addPacket(Bytes{0x90, 0x3C, 0x64});  // note on channel 1 C4 velocity 100
  ASSERT_EQ(services_->MIDISend(port, destination, list.list()), noErr);
  ASSERT_TRUE(waitUntil([&] { return !recorder->events().empty(); }, kJackWait));

  // The services' setup thread is kept in a notification while the client
  // goes and comes back, so that its next listing finds it present again.
  HeldCallback held;
  MIDIClientRef watching = 0;
  ASSERT_EQ(services_->MIDIClientCreate("watching", HeldCallback::notifyProc, &held, &watching),
            noErr);
  MIDIEndpointRef source = 0;
  ASSERT_EQ(services_->MIDISourceCreate(watching, "wex comeback", &source), noErr);
  ASSERT_TRUE(waitUntil([&] { return held.entered.load(); }, kJackWait));
  recorder.reset();
  recorder = std::make_unique<RecordingClient>(name);
  ASSERT_TRUE(recorder->ok());
  held.release = true;

  EXPECT_TRUE(waitUntil(
      [&] {
        services_->MIDISend(port, destination, list.list());
        return !recorder->events().empty();
      },
      kJackWait));
  // `held` goes with this scope: no notification may reach it after that.
  services_->MIDIClientDispose(watching);
}

TEST_F(JackServicesTest, DisposingOfAClientWaitsForItsRunningReadCallback) {
  MIDIClientRef client = 0;
  ASSERT_EQ(services_->MIDIClientCreate("held", nullptr, nullptr, &client), noErr);
  HeldCallback held;
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(client, "wex held", HeldCallback::readProc, &held,
                                             &destination),
            noErr);
  MIDIPacketListBuffer list;
  list.addPacket(Bytes{0xF8});  // clock
  ASSERT_EQ(services_->MIDISend(makeOutputPort(makeClient()), destination, list.list()), noErr);
  ASSERT_TRUE(waitUntil([&] { return held.entered.load(); }, kJackWait));

  std::thread releaser([&] {
    std::this_thread::sleep_for(200ms);
    held.release = true;
  });
  EXPECT_EQ(services_->MIDIClientDispose(client), noErr);
  EXPECT_TRUE(held.finished);
  releaser.join();
}

TEST_F(JackServicesTest, InputDroppedBecauseTheReaderFellBehindIsReportedInTheLog) {
  SystemLog::Capture log;
  const MIDIClientRef client = makeClient();
  HeldCallback held;
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(client, "wex slow", HeldCallback::readProc, &held,
                                             &destination),
            noErr);
  const MIDIPortRef out = makeOutputPort(client);
  const Bytes sysex = sysexOfLength(1010);
  MIDIPacketListBuffer list;
  list.addPacket(sysex);
  ASSERT_EQ(services_->MIDISend(out, destination, list.list()), noErr);
  ASSERT_TRUE(waitUntil([&] { return held.entered.load(); }, kJackWait));
  for (int i = 0; i < 200; ++i) services_->MIDISend(out, destination, list.list());
  services_->waitUntilDelivered(0.5);  // the held reader keeps it from finishing
  held.release = true;

  EXPECT_TRUE(waitUntil(
      [&] {
        const auto lines = log.lines();
        return std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
          return line.rfind("\tJACK MIDI input from \"wex slow\" dropped ", 0) == 0;
        });
      },
      5000ms));
  // `held` goes with this scope: no callback may run after it.
  services_->MIDIClientDispose(client);
}

}  // namespace
}  // namespace wex::test
