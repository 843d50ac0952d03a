#include <algorithm>
#include <thread>

#include "jack/JackServicesFixture.h"
#include "shared/CompositionDriver.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kReceiver = CompositionDriver::kReceiver;
constexpr const char* kSender = CompositionDriver::kSender;

const Bytes kKnock{0xFE};  // active sensing

// jack_midiseq plays, every 100 ms: note on 62 at once, its note off 1000
// samples later, note on 67 at 2400 samples and its note off at 3400, all on
// channel 0 with velocity 64. Their message numbers, in the order played:
// 90 3E 40, 80 3E 40, 90 43 40, 80 43 40.
const std::vector<Value> kSequence{Value::number(9453120), Value::number(8404544),
                                   Value::number(9454400), Value::number(8405824)};

std::vector<std::string> sequencerCommand(const std::string& name) {
  return {"jack_midiseq", name, "4800", "0", "62", "1000", "2400", "67", "1000"};
}

bool isFromSequence(const Value& value) {
  return std::find(kSequence.begin(), kSequence.end(), value) != kSequence.end();
}

// The events a jack_midi_dump printed after the knocks that woke it.
std::vector<Bytes> afterKnocks(const std::string& output) {
  auto events = dumpedEvents(output);
  events.erase(events.begin(), std::find_if(events.begin(), events.end(),
                                            [](const Bytes& event) { return event != kKnock; }));
  return events;
}

// The receiver and sender patches in a composition on the JACK MIDI services
// of the server the environment names (shared with other tests, so each test
// ticks in the panels only the endpoints of the clients it started).
class JackPatchesTest : public JackServicesTest {
 protected:
  void SetUp() override {
    JackServicesTest::SetUp();
    if (services_) driver_ = std::make_unique<CompositionDriver>(services_);
  }

  void TearDown() override {
    driver_.reset();
    JackServicesTest::TearDown();
  }

  std::unique_ptr<JackClientProcess> startSequencer(const std::string& name) {
    auto sequencer =
        std::make_unique<JackClientProcess>(name, sequencerCommand(name), jackEnvironment());
    EXPECT_NE(waitForEndpoint(*services_, true, name + ":out"), 0u) << sequencer->output();
    return sequencer;
  }

  std::unique_ptr<JackClientProcess> startDump(const std::string& name) {
    auto dump = std::make_unique<JackClientProcess>(
        name, std::vector<std::string>{"stdbuf", "-oL", "jack_midi_dump", name}, jackEnvironment());
    EXPECT_NE(waitForEndpoint(*services_, false, name + ":input"), 0u) << dump->output();
    return dump;
  }

  // A dump's port is there a moment before jack_midi_dump reads it, and what
  // comes in between is lost: the sender sends active sensing at every
  // evaluation until each dump has printed one.
  bool knockUntilAnswered(const std::vector<const JackClientProcess*>& dumps) {
    driver_->send({messageNumber(0xFE)}, true);
    const bool answered = waitUntil(
        [&] {
          return std::all_of(dumps.begin(), dumps.end(), [](const JackClientProcess* dump) {
            return wasDumped(dump->output(), kKnock);
          });
        },
        kJackWait);
    driver_->setResend(false);
    return answered;
  }

  // Drops what the receiver put out so far, once what was under way when the
  // panel switched the other sources off has come through.
  void forgetEarlierMessages() {
    std::this_thread::sleep_for(100ms);
    driver_->clearReceived();
  }

  // Waits for `count` messages of the sequence and returns what the receiver
  // put out.
  std::vector<Value> receiveFromSequence(size_t count) {
    EXPECT_TRUE(waitUntil([&] { return driver_->receivedCount() >= count; }, kJackWait));
    return driver_->received();
  }

  std::unique_ptr<CompositionDriver> driver_;
};

TEST_F(JackPatchesTest, NotesOfJackMidiseqLeaveTheReceiverAsTheirMessageNumbersInPlayingOrder) {
  const std::string name = uniqueName("seq");
  auto sequencer = startSequencer(name);
  driver_->addReceiver();
  driver_->enableOnly(kReceiver, {name + ":out"});
  driver_->start();
  forgetEarlierMessages();

  const std::vector<Value> received = receiveFromSequence(12);
  ASSERT_GE(received.size(), 12u);
  const auto first = std::find(kSequence.begin(), kSequence.end(), received.front());
  ASSERT_NE(first, kSequence.end()) << testing::PrintToString(received.front());
  size_t position = first - kSequence.begin();
  for (const Value& value : received) {
    EXPECT_EQ(value, kSequence[position % kSequence.size()])
        << "at message " << position << " of " << testing::PrintToString(received);
    ++position;
  }
}

TEST_F(JackPatchesTest, WhatTheSenderSendsReachesJackMidiDumpByteForByte) {
  const std::string name = uniqueName("dump");
  auto dump = startDump(name);
  driver_->addSender();
  ASSERT_TRUE(driver_->panelLists(kSender, name + ":input"));
  driver_->enableOnly(kSender, {name + ":input"});
  driver_->start();
  ASSERT_TRUE(knockUntilAnswered({dump.get()})) << dump->output();

  const Bytes sysex = sysexOfLength(1010);
  const std::vector<std::pair<Value, Bytes>> messages{
      {messageNumber(0x91, 0x3C, 0x64), {0x91, 0x3C, 0x64}},  // note on
      {messageNumber(0x81, 0x3C, 0x00), {0x81, 0x3C, 0x00}},  // note off
      {messageNumber(0xA6, 0x3C, 0x10), {0xA6, 0x3C, 0x10}},  // polyphonic pressure
      {messageNumber(0xB2, 0x07, 0x7F), {0xB2, 0x07, 0x7F}},  // control change
      {messageNumber(0xC3, 0x05), {0xC3, 0x05}},              // program change
      {messageNumber(0xD4, 0x33), {0xD4, 0x33}},              // channel pressure
      {messageNumber(0xE5, 0x00, 0x40), {0xE5, 0x00, 0x40}},  // pitch bend
      {messageNumber(0xF2, 0x10, 0x20), {0xF2, 0x10, 0x20}},  // song position
      {messageNumber(0xF3, 0x05), {0xF3, 0x05}},              // song select
      {messageNumber(0xF6), {0xF6}},                          // tune request
      {messageNumber(0xF8), {0xF8}},                          // timing clock
      {messageNumber(0xFA), {0xFA}},                          // start
      {messageNumber(0xFB), {0xFB}},                          // continue
      {messageNumber(0xFC), {0xFC}},                          // stop
      {messageNumber(0xFF), {0xFF}},                          // reset
      {sysexString(sysex), sysex}};
  std::vector<Value> values;
  std::vector<Bytes> expected;
  for (const auto& [value, bytes] : messages) {
    values.push_back(value);
    expected.push_back(bytes);
  }
  driver_->send(values);

  ASSERT_TRUE(
      waitUntil([&] { return afterKnocks(dump->output()).size() >= expected.size(); }, kJackWait))
      << dump->output();
  EXPECT_EQ(afterKnocks(dump->output()), expected);
}

TEST_F(JackPatchesTest, ANoteLeftSoundingIsReleasedWhenItsDestinationIsSwitchedOffOrTheSenderEnds) {
  const std::string name = uniqueName("held");
  auto dump = startDump(name);
  driver_->addSender();
  driver_->enableOnly(kSender, {name + ":input"});
  driver_->start();
  ASSERT_TRUE(knockUntilAnswered({dump.get()})) << dump->output();
  auto dumpedAfterKnocks = [&](size_t count) {
    return waitUntil([&] { return afterKnocks(dump->output()).size() >= count; }, kJackWait);
  };

  driver_->send({messageNumber(0x92, 0x40, 0x50)});
  ASSERT_TRUE(dumpedAfterKnocks(1)) << dump->output();
  driver_->setEnabled(kSender, name + ":input", false);
  ASSERT_TRUE(dumpedAfterKnocks(2)) << dump->output();
  driver_->setEnabled(kSender, name + ":input", true);
  driver_->send({messageNumber(0x93, 0x41, 0x50)});
  ASSERT_TRUE(dumpedAfterKnocks(3)) << dump->output();
  driver_.reset();
  ASSERT_TRUE(dumpedAfterKnocks(4)) << dump->output();
  EXPECT_EQ(afterKnocks(dump->output()),
            (std::vector<Bytes>{{0x92, 0x40, 0x50},     // note on channel 3 E4 velocity 80
                                {0x82, 0x40, 0x40},     // note off channel 3 E4 velocity 64
                                {0x93, 0x41, 0x50},     // note on channel 4 F4 velocity 80
                                {0x83, 0x41, 0x40}}));  // note off channel 4 F4 velocity 64
}

TEST_F(JackPatchesTest, ClientsThatAppearLaterAreListedHeardAndSentToOnceThePanelsAreOpened) {
  driver_->addReceiver();
  driver_->addSender();
  const std::string sequencerName = uniqueName("lateseq");
  const std::string dumpName = uniqueName("latedump");
  ASSERT_FALSE(driver_->panelLists(kReceiver, sequencerName + ":out"));
  ASSERT_FALSE(driver_->panelLists(kSender, dumpName + ":input"));
  driver_->closePanel(kReceiver);
  driver_->closePanel(kSender);

  auto sequencer = startSequencer(sequencerName);
  auto dump = startDump(dumpName);
  EXPECT_TRUE(driver_->panelLists(kReceiver, sequencerName + ":out"));
  EXPECT_TRUE(driver_->panelLists(kSender, dumpName + ":input"));

  driver_->enableOnly(kReceiver, {sequencerName + ":out"});
  driver_->enableOnly(kSender, {dumpName + ":input"});
  driver_->start();
  forgetEarlierMessages();
  const std::vector<Value> received = receiveFromSequence(4);
  EXPECT_TRUE(std::all_of(received.begin(), received.end(), isFromSequence));
  EXPECT_TRUE(knockUntilAnswered({dump.get()})) << dump->output();
}

TEST_F(JackPatchesTest, ADestinationSwitchedOffInTheSendersPanelReceivesNothingWhileOthersDo) {
  const std::string offName = uniqueName("offdump");
  const std::string onName = uniqueName("ondump");
  auto off = startDump(offName);
  auto on = startDump(onName);
  driver_->addSender();
  driver_->enableOnly(kSender, {offName + ":input", onName + ":input"});
  driver_->start();
  ASSERT_TRUE(knockUntilAnswered({off.get(), on.get()}));

  driver_->setEnabled(kSender, offName + ":input", false);
  const Bytes sysex = sysexOfLength(300);
  driver_->send({messageNumber(0x92, 0x40, 0x7F), sysexString(sysex)});
  const std::vector<Bytes> sent{{0x92, 0x40, 0x7F}, sysex};  // note on channel 3 E4 velocity 127
  ASSERT_TRUE(waitUntil([&] { return afterKnocks(on->output()) == sent; }, kJackWait))
      << on->output();

  // Switched on again, it gets what is sent next, and only that: had it been
  // sent the first messages, they would have come before.
  driver_->setEnabled(kSender, offName + ":input", true);
  driver_->send({messageNumber(0xB5, 0x01, 0x02)});
  const std::vector<Bytes> sentNext{{0xB5, 0x01, 0x02}};
  ASSERT_TRUE(waitUntil([&] { return !afterKnocks(off->output()).empty(); }, kJackWait))
      << off->output();
  EXPECT_EQ(afterKnocks(off->output()), sentNext);
}

// Runs against a server of its own, since it kills it; only where the
// environment allows that (see ownJackServersAllowed).
TEST(JackPatchesServerRestart, MIDIFlowsThroughThePatchesAgainAfterTheServerIsKilledAndRestarted) {
  if (!ownJackServersAllowed()) GTEST_SKIP() << kOwnJackServersSkipReason;
  const std::string serverName = uniqueName("wexpatchrestart");
  ScopedServerName useServer(serverName);
  const std::map<std::string, std::string> environment{{"JACK_DEFAULT_SERVER", serverName}};
  auto server = startJackServer(serverName);
  ASSERT_TRUE(jackServerUp()) << server->output();

  std::string error;
  auto services = JackMIDIServices::open("wexpatchrestart", &error);
  ASSERT_TRUE(services) << error;
  auto sequencer = std::make_unique<ChildProcess>(sequencerCommand("seq"), environment);
  auto dump = std::make_unique<ChildProcess>(
      std::vector<std::string>{"stdbuf", "-oL", "jack_midi_dump", "dump"}, environment);
  ASSERT_NE(waitForEndpoint(*services, true, "seq:out"), 0u) << sequencer->output();
  ASSERT_NE(waitForEndpoint(*services, false, "dump:input"), 0u) << dump->output();

  {
    CompositionDriver driver(services);
    driver.addReceiver();
    driver.addSender();
    driver.start();
    // Sent at every evaluation, for as long as the test runs.
    const Bytes note{0x95, 0x30, 0x31};  // note on channel 6 C3 velocity 49
    driver.send({messageNumber(0x95, 0x30, 0x31)}, true);
    EXPECT_TRUE(waitUntil([&] { return driver.receivedCount() > 0; }, kJackWait));
    EXPECT_TRUE(waitUntil([&] { return wasDumped(dump->output(), note); }, kJackWait))
        << dump->output();
    // The ports of the patches' connections, named after patch and peer.
    const std::string client = services->jackClientName();
    const std::vector<std::string> ports{"rx from seq:out", "tx to dump:input"};
    EXPECT_EQ(waitForJackPorts(client, ports), ports);

    server->stop();
    sequencer.reset();
    dump.reset();
    EXPECT_TRUE(waitUntil([&] { return services->serverAway(); }, kJackWait));

    server = startJackServer(serverName);
    ASSERT_TRUE(jackServerUp()) << server->output();
    EXPECT_TRUE(waitUntil([&] { return !services->serverAway(); }, kJackWait));
    sequencer = std::make_unique<ChildProcess>(sequencerCommand("seq"), environment);
    dump = std::make_unique<ChildProcess>(
        std::vector<std::string>{"stdbuf", "-oL", "jack_midi_dump", "dump"}, environment);
    driver.clearReceived();
    EXPECT_TRUE(waitUntil([&] { return driver.receivedCount() >= 4; }, kJackWait))
        << "the receiver's connection to the sequencer was not remade";
    const std::vector<Value> received = driver.received();
    EXPECT_TRUE(std::all_of(received.begin(), received.end(), isFromSequence));
    EXPECT_TRUE(waitUntil([&] { return wasDumped(dump->output(), note); }, kJackWait))
        << "the sender's connection to the dump was not remade:\n"
        << dump->output();
    EXPECT_EQ(services->jackClientName(), client);
    EXPECT_EQ(jackPortsOf(client), ports);
  }

  services.reset();
  // The server goes first, while its clients are alive: a client killed
  // under a running server makes it wait out its client timeout.
  server->stop();
}

}  // namespace
}  // namespace wex::test
