#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

#include "jack/JackServicesFixture.h"
#include "shared/TestPaths.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

// A note composer held on: C4 on channel 1, velocity 100, to every destination.
constexpr const char* kHeldNote = R"({
  "format": "wexmidi composition",
  "version": 1,
  "patches": [
    {"id": "note", "class": "MIDI_MessagePlugIn",
     "inputs": {"inputMessageType": 1, "inputChannel": 0, "inputData1": 60, "inputData2": 100}},
    {"id": "group", "class": "MIDI_GroupPlugIn", "settings": {"numberOfMessages": 1}},
    {"id": "out", "class": "MIDI_SenderPlugIn",
     "settings": {"snapshot": {"dst": {"wexmidi Loopback": false}}}}
  ],
  "connections": [
    {"from": "note.outputMessage", "to": "group.message0"},
    {"from": "group.outputMessages", "to": "out.inputMessages"}
  ]
})";

const Bytes kNoteOn{0x90, 60, 100};
const Bytes kNoteOff{0x80, 60, 64};

// How a performer ends the program, and whether the note must be off at the
// peer afterwards.
struct Stop {
  const char* what;
  std::vector<std::string> arguments;  // after the program's path
  int signal;                          // 0: the program ends by itself
  bool released;
};

class JackProgramAtPeersTest : public JackServicesTest {
 protected:
  void SetUp() override {
    JackServicesTest::SetUp();
    file_ = std::filesystem::temp_directory_path() /
            ("wexmidi-held-" + std::to_string(::getpid()) + ".wexcomp.json");
    std::ofstream(file_) << kHeldNote;
  }
  void TearDown() override {
    std::filesystem::remove(file_);
    JackServicesTest::TearDown();
  }

  std::filesystem::path file_;
};

// Each way, several times over: the note offs must not race the end of the
// program, and `send` must leave alone the note it was told to play.
TEST_F(JackProgramAtPeersTest, RunReleasesItsHeldNoteHoweverItEndsAndSendLeavesItSounding) {
  if (slowCyclesLoseOnPipeWire()) GTEST_SKIP() << kSlowCyclesSkipReason;
  const std::string dumpName = uniqueName("peer");
  JackClientProcess dump(dumpName, {"stdbuf", "-oL", "jack_midi_dump", dumpName},
                         jackEnvironment());
  ASSERT_NE(waitForEndpoint(*services_, false, dumpName + ":input"), 0u) << dump.output();
  std::this_thread::sleep_for(500ms);  // until jack_midi_dump reads its port
  const std::string dest = dumpName + ":input";
  const Stop stops[] = {
      {"Ctrl-C", {"--midi", "jack", "run", file_.string()}, SIGINT, true},
      {"SIGTERM", {"--midi", "jack", "run", file_.string()}, SIGTERM, true},
      {"--for", {"--midi", "jack", "run", file_.string(), "--for", "0.5"}, 0, true},
      {"send on", {"--midi", "jack", "send", "--dest", dest, "on", "1", "60", "100"}, 0, false},
  };
  constexpr int kTimes = 5;
  for (const Stop& stop : stops) {
    for (int time = 0; time < kTimes; ++time) {
      SCOPED_TRACE(std::string(stop.what) + ", time " + std::to_string(time + 1));
      const size_t before = dumpedEvents(dump.output()).size();
      std::vector<std::string> arguments{kProgramPath};
      arguments.insert(arguments.end(), stop.arguments.begin(), stop.arguments.end());
      ChildProcess program(arguments, jackEnvironment());
      if (stop.signal != 0) {
        ASSERT_TRUE(
            waitUntil([&] { return dumpedEvents(dump.output()).size() > before; }, kJackWait))
            << program.output();
        program.setStopSignal(stop.signal);
        program.stop();
      } else {
        ASSERT_TRUE(program.waitForExit(10s)) << program.output();
      }
      // What reaches the peer after the program has gone.
      std::this_thread::sleep_for(200ms);
      auto events = dumpedEvents(dump.output());
      events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(before));
      EXPECT_EQ(std::count(events.begin(), events.end(), kNoteOn), 1) << dump.output();
      EXPECT_EQ(std::count(events.begin(), events.end(), kNoteOff), stop.released ? 1 : 0)
          << program.output();
    }
  }
}

// Far more than one cycle takes: what does not fit goes in the next cycles,
// in order, and `send` says "sent" only for what went out.
TEST_F(JackProgramAtPeersTest, ABurstOf5000MessagesFromSendArrivesWholeAndInOrder) {
  if (slowCyclesLoseOnPipeWire()) GTEST_SKIP() << kSlowCyclesSkipReason;
  PacketCollector& collector = newCollector();
  const std::string name = uniqueName("wex burst");
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(makeClient(), name, PacketCollector::readProc,
                                             &collector, &destination),
            noErr);
  constexpr int kMessages = 5000;
  std::vector<std::string> arguments{kProgramPath, "--midi", "jack", "send", "--dest", name};
  Bytes expected;
  for (int i = 0; i < kMessages; ++i) {
    const Byte note = static_cast<Byte>(i % 128), velocity = static_cast<Byte>(1 + i / 128);
    arguments.push_back(std::to_string(0x900000 | note << 8 | velocity));
    expected.insert(expected.end(), {0x90, note, velocity});
  }
  ChildProcess send(arguments, jackEnvironment());
  ASSERT_TRUE(send.waitForExit(30s)) << send.output();
  EXPECT_NE(send.output().find("sent 5000 messages"), std::string::npos) << send.output();
  EXPECT_TRUE(waitUntil([&] { return collector.allBytes().size() >= expected.size(); }, kJackWait))
      << collector.allBytes().size() / 3 << " of " << kMessages << " arrived";
  EXPECT_EQ(collector.allBytes(), expected);
}

}  // namespace
}  // namespace wex::test
