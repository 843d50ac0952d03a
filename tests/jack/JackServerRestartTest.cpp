#include <cstdlib>

#include "jack/JackServicesFixture.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

// Points the JACK library at another server for the life of the object.
class ScopedServerName {
 public:
  explicit ScopedServerName(const std::string& name) {
    if (const char* old = std::getenv("JACK_DEFAULT_SERVER")) previous_ = old;
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  }
  ~ScopedServerName() {
    if (previous_) {
      setenv("JACK_DEFAULT_SERVER", previous_->c_str(), 1);
    } else {
      unsetenv("JACK_DEFAULT_SERVER");
    }
  }

 private:
  std::optional<std::string> previous_;
};

// A server killed outright keeps its place in JACK's table of servers, and
// that table is small: give it time to close properly.
constexpr std::chrono::milliseconds kServerExit{15000};

std::unique_ptr<ChildProcess> startServer(const std::string& name) {
  auto server = std::make_unique<ChildProcess>(std::vector<std::string>{
      "jackd", "-n", name, "--no-realtime", "-S", "-d", "dummy", "-r", "48000", "-p", "128"});
  server->setStopGrace(kServerExit);
  return server;
}

bool serverUp() {
  return waitUntil([] { return JackMIDIServices::serverRunning(); }, 10000ms);
}

bool dumped(const ChildProcess& dump, const Bytes& message) {
  const auto events = dumpedEvents(dump.output());
  return std::find(events.begin(), events.end(), message) != events.end();
}

// Runs against a server of its own, since it kills it. Skipped, like the
// other JACK tests, when the environment offers no server.
TEST(JackServerRestart, MIDIFlowsAgainAfterTheServerIsKilledAndRestarted) {
  if (!JackMIDIServices::serverRunning()) GTEST_SKIP() << "no JACK server is reachable";
  const std::string serverName = uniqueName("wexrestart");
  ScopedServerName useServer(serverName);
  const std::map<std::string, std::string> environment{{"JACK_DEFAULT_SERVER", serverName}};
  auto server = startServer(serverName);
  ASSERT_TRUE(serverUp()) << server->output();

  // Declared before the services, so that they outlive every callback.
  NotificationCounter counter;
  PacketCollector received;
  std::string error;
  auto services = JackMIDIServices::open("wexrestart", &error);
  ASSERT_TRUE(services) << error;
  MIDIClientRef client = 0;
  ASSERT_EQ(services->MIDIClientCreate("c", NotificationCounter::notifyProc, &counter, &client),
            noErr);
  MIDIPortRef in = 0;
  MIDIPortRef out = 0;
  ASSERT_EQ(services->MIDIInputPortCreate(client, "in", PacketCollector::readProc, &received, &in),
            noErr);
  ASSERT_EQ(services->MIDIOutputPortCreate(client, "out", &out), noErr);
  const Bytes note{0x95, 0x30, 0x31};
  MIDIPacketListBuffer list;
  list.addPacket(note);

  auto sequencer = std::make_unique<ChildProcess>(
      std::vector<std::string>{"jack_midiseq", "seq", "4800", "0", "60", "1000"}, environment);
  auto dump = std::make_unique<ChildProcess>(
      std::vector<std::string>{"stdbuf", "-oL", "jack_midi_dump", "dump"}, environment);
  const MIDIEndpointRef source = waitForEndpoint(*services, true, "seq:out");
  const MIDIEndpointRef destination = waitForEndpoint(*services, false, "dump:input");
  ASSERT_TRUE(source && destination);
  ASSERT_EQ(services->MIDIPortConnectSource(in, source, nullptr), noErr);
  ASSERT_TRUE(waitUntil([&] { return received.count() > 0; }));
  // jack_midi_dump's port is there a moment before it runs: send until it answers.
  ASSERT_TRUE(waitUntil([&] {
    services->MIDISend(out, destination, list.list());
    return dumped(*dump, note);
  })) << dump->output();

  const int notifiedBefore = counter.setupChanged;
  server->stop();
  sequencer.reset();
  dump.reset();
  EXPECT_TRUE(waitUntil([&] { return services->serverAway(); }));
  EXPECT_TRUE(waitUntil([&] { return counter.setupChanged > notifiedBefore; }));
  EXPECT_EQ(integerOf(*services, destination, kMIDIPropertyOffline), 1);
  EXPECT_EQ(integerOf(*services, source, kMIDIPropertyOffline), 1);

  server = startServer(serverName);
  ASSERT_TRUE(serverUp()) << server->output();
  EXPECT_TRUE(waitUntil([&] { return !services->serverAway(); }, 10000ms));
  sequencer = std::make_unique<ChildProcess>(
      std::vector<std::string>{"jack_midiseq", "seq", "4800", "0", "60", "1000"}, environment);
  dump = std::make_unique<ChildProcess>(
      std::vector<std::string>{"stdbuf", "-oL", "jack_midi_dump", "dump"}, environment);
  EXPECT_TRUE(
      waitUntil([&] { return integerOf(*services, destination, kMIDIPropertyOffline) == 0; }));
  EXPECT_TRUE(waitUntil([&] { return integerOf(*services, source, kMIDIPropertyOffline) == 0; }));

  const size_t receivedBefore = received.count();
  EXPECT_TRUE(waitUntil([&] { return received.count() > receivedBefore; }))
      << "the connection to the sequencer was not remade";
  EXPECT_TRUE(waitUntil([&] {
    services->MIDISend(out, destination, list.list());
    return dumped(*dump, note);
  })) << dump->output();

  services->MIDIClientDispose(client);
  services.reset();
  // The server goes first, while its clients are alive: a client killed
  // under a running server makes it wait out its client timeout.
  server->stop();
}

}  // namespace
}  // namespace wex::test
