#include <jack/jack.h>

#include <filesystem>
#include <set>

#include "jack/JackServicesFixture.h"
#include "services/jack/JackClientLedger.h"
#include "shared/TestPaths.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

// Polls, through a client of its own, until the server lists every port named.
bool waitForJackPorts(const std::vector<std::string>& names) {
  return waitUntil(
      [&] {
        jack_client_t* probe = JackClientLedger::open("wextest-probe");
        if (!probe) return false;
        bool all = true;
        for (const auto& name : names) all = all && jack_port_by_name(probe, name.c_str());
        JackClientLedger::close(probe);
        return all;
      },
      kJackWait);
}

// The full names of the ports whose names end in one of `endings`, as the
// server lists them now; empty unless each ending names exactly one port.
std::vector<std::string> portsEndingIn(const std::vector<std::string>& endings) {
  std::vector<std::string> names;
  jack_client_t* probe = JackClientLedger::open("wextest-probe");
  if (!probe) return {};
  for (const auto& ending : endings) {
    const char** found = jack_get_ports(probe, (ending + "$").c_str(), nullptr, 0);
    size_t count = 0;
    while (found && found[count]) ++count;
    if (count == 1) names.push_back(found[0]);
    jack_free(found);
  }
  JackClientLedger::close(probe);
  return names.size() == endings.size() ? names : std::vector<std::string>{};
}

// Runs against a server of its own, since it kills it; only where the
// environment allows that (see ownJackServersAllowed).
TEST(JackServerRestart, MIDIFlowsAgainAfterTheServerIsKilledAndRestarted) {
  if (!ownJackServersAllowed()) GTEST_SKIP() << kOwnJackServersSkipReason;
  const std::string serverName = uniqueName("wexrestart");
  ScopedServerName useServer(serverName);
  const std::map<std::string, std::string> environment{{"JACK_DEFAULT_SERVER", serverName}};
  auto server = startJackServer(serverName);
  ASSERT_TRUE(jackServerUp()) << server->output();

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
    return wasDumped(dump->output(), note);
  })) << dump->output();

  const int notifiedBefore = counter.setupChanged;
  server->stop();
  sequencer.reset();
  dump.reset();
  EXPECT_TRUE(waitUntil([&] { return services->serverAway(); }));
  EXPECT_TRUE(waitUntil([&] { return counter.setupChanged > notifiedBefore; }));
  EXPECT_EQ(integerOf(*services, destination, kMIDIPropertyOffline), 1);
  EXPECT_EQ(integerOf(*services, source, kMIDIPropertyOffline), 1);

  server = startJackServer(serverName);
  ASSERT_TRUE(jackServerUp()) << server->output();
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
    return wasDumped(dump->output(), note);
  })) << dump->output();

  services->MIDIClientDispose(client);
  services.reset();
  // The server goes first, while its clients are alive: a client killed
  // under a running server makes it wait out its client timeout.
  server->stop();
}

// The same, as a user meets it: a thru composition in `wexmidi run` keeps
// passing the sequencer's notes to the dump after the server comes back, and
// it and a `wexmidi monitor` started after it keep their client names,
// whichever of them finds the new server first.
TEST(JackServerRestart, AWexmidiRunPassesMIDIThroughAgainOnceTheServerIsBack) {
  if (!ownJackServersAllowed()) GTEST_SKIP() << kOwnJackServersSkipReason;
  const std::string serverName = uniqueName("wexrunrestart");
  ScopedServerName useServer(serverName);
  const std::map<std::string, std::string> environment{{"JACK_DEFAULT_SERVER", serverName}};
  const std::vector<std::string> sequencerCommand{"jack_midiseq", "seq", "4800", "0", "60", "1000"};
  const std::vector<std::string> dumpCommand{"stdbuf", "-oL", "jack_midi_dump", "dump"};
  const Bytes note{0x90, 0x3C, 0x40};
  auto server = startJackServer(serverName);
  ASSERT_TRUE(jackServerUp()) << server->output();

  auto sequencer = std::make_unique<ChildProcess>(sequencerCommand, environment);
  auto dump = std::make_unique<ChildProcess>(dumpCommand, environment);
  // The thru's receiver hears every source and its sender sends to every
  // destination listed when the composition starts.
  ASSERT_TRUE(waitForJackPorts({"seq:out", "dump:input"}));
  ChildProcess wexmidi({::wex::test::kProgramPath, "--midi", "jack", "run",
                        std::string(::wex::test::kSourceDir) + "/examples/thru.wexcomp.json"},
                       environment);
  ASSERT_TRUE(waitUntil([&] { return wasDumped(dump->output(), note); }, kJackWait))
      << "before the restart:\n"
      << wexmidi.output() << dump->output();
  ChildProcess monitor({::wex::test::kProgramPath, "--midi", "jack", "monitor"}, environment);
  // jackd names the second "wexmidi" "wexmidi-01".
  const std::vector<std::string> endings{":in from seq:out", ":wexmidi monitor from seq:out"};
  std::vector<std::string> ports;
  ASSERT_TRUE(waitUntil([&] { return !(ports = portsEndingIn(endings)).empty(); }, kJackWait))
      << monitor.output();

  server->stop();
  sequencer.reset();
  dump.reset();
  ASSERT_TRUE(
      waitUntil([&] { return wexmidi.output().find("JACK server went away") != std::string::npos; },
                kJackWait))
      << wexmidi.output();

  // The monitor finds the new server first.
  wexmidi.signal(SIGSTOP);
  server = startJackServer(serverName);
  ASSERT_TRUE(jackServerUp()) << server->output();
  EXPECT_TRUE(waitUntil(
      [&] { return monitor.output().find("JACK server is back") != std::string::npos; }, kJackWait))
      << monitor.output();
  wexmidi.signal(SIGCONT);
  sequencer = std::make_unique<ChildProcess>(sequencerCommand, environment);
  dump = std::make_unique<ChildProcess>(dumpCommand, environment);
  EXPECT_TRUE(waitUntil([&] { return wasDumped(dump->output(), note); }, kJackWait))
      << "after the restart:\n"
      << wexmidi.output() << dump->output();
  EXPECT_NE(wexmidi.output().find("JACK server is back"), std::string::npos) << wexmidi.output();
  // PipeWire's JACK names a second client after its node ("wexmidi-27"),
  // and gives such a name to whichever client asks for it after a restart.
  if (onPipeWire()) {
    server->stop();
    return;
  }
  std::vector<std::string> portsAfter;
  EXPECT_TRUE(waitUntil([&] { return (portsAfter = portsEndingIn(endings)) == ports; }, kJackWait))
      << "the client names changed from " << ports[0] << ", " << ports[1] << " to "
      << (portsAfter.empty() ? "" : portsAfter[0]) << ", "
      << (portsAfter.empty() ? "" : portsAfter[1]);

  // The server goes first, while its clients are alive (see above).
  server->stop();
}

std::set<std::string> filesInDevShm() {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::recursive_directory_iterator("/dev/shm")) {
    names.insert(entry.path().string());
  }
  return names;
}

// Where the program only looks for a server and finds none, JACK's library
// leaves nothing behind.
TEST(JackOwnServerAbsent, ListingWithoutAServerLeavesNothingInDevShm) {
  if (!ownJackServersAllowed()) GTEST_SKIP() << kOwnJackServersSkipReason;
  ScopedServerName useServer(uniqueName("wexabsent"));
  const auto before = filesInDevShm();
  ChildProcess list({::wex::test::kProgramPath, "list"});
  ASSERT_TRUE(list.waitForExit(kJackWait)) << list.output();
  EXPECT_EQ(filesInDevShm(), before);
}

}  // namespace
}  // namespace wex::test
