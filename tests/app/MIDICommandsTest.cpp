#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "app/WexmidiProgram.h"
#include "midi/OrvMIDINode.h"
#include "midiio/MIDIFilePlayer.h"
#include "server/EndpointChooser.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/embedded/EmbeddedMIDIServices.h"
#include "shared/ProgramRun.h"
#include "shared/TestPaths.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using test::ProgramRun;
using test::runInProcess;
using Bytes = std::vector<Byte>;
using Names = std::vector<std::string>;

const std::string kExamples = std::string(::wex::test::kSourceDir) + "/examples/";
const std::string kDemoSong = kExamples + "distributors-demo.mid";
const std::string kDemoComposition = kExamples + "distributors.wexcomp.json";

// Writes a Standard MIDI File of the events (seconds, bytes, in time order):
// format 0, 480 ticks a quarter note at the default 120 a minute, every
// status byte written.
void writeMidiFile(const std::string& path, const std::vector<MIDIFilePlayer::Event>& events) {
  Bytes track;
  auto number = [&track](uint64_t value) {
    Bytes groups{static_cast<Byte>(value & 0x7F)};
    while (value >>= 7) groups.insert(groups.begin(), static_cast<Byte>(0x80 | (value & 0x7F)));
    track.insert(track.end(), groups.begin(), groups.end());
  };
  uint64_t last = 0;
  for (const auto& event : events) {
    const auto tick = static_cast<uint64_t>(std::llround(event.seconds * 960));
    number(tick - last);
    last = tick;
    if (event.bytes.front() == 0xF0) {
      track.push_back(0xF0);
      number(event.bytes.size() - 1);
      track.insert(track.end(), event.bytes.begin() + 1, event.bytes.end());
    } else {
      track.insert(track.end(), event.bytes.begin(), event.bytes.end());
    }
  }
  track.insert(track.end(), {0x00, 0xFF, 0x2F, 0x00});
  Bytes file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0x01, 0xE0, 'M', 'T', 'r', 'k'};
  for (int shift = 24; shift >= 0; shift -= 8)
    file.push_back(static_cast<Byte>(track.size() >> shift));
  file.insert(file.end(), track.begin(), track.end());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
}

// The song of examples/distributors-demo.mid: a chord and a last note on
// channel 0 under a rising filter control, with a sysex message and a note on
// channel 1 that the example's distributors leave alone.
std::vector<MIDIFilePlayer::Event> demoSong() {
  return {
      {0.000, {0xB0, 7, 100}},  // control change channel 1 controller 7 value 100
      {0.000, {0xB0, 74, 20}},  // control change channel 1 controller 74 value 20
      {0.125, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}},  // sysex: identity request
      {0.250, {0x90, 60, 100}},                       // note on channel 1 C4 velocity 100
      {0.500, {0xB0, 74, 40}},   // control change channel 1 controller 74 value 40
      {0.750, {0xB0, 74, 60}},   // control change channel 1 controller 74 value 60
      {1.000, {0x90, 64, 90}},   // note on channel 1 E4 velocity 90
      {1.000, {0xB0, 74, 80}},   // control change channel 1 controller 74 value 80
      {1.250, {0xB0, 74, 100}},  // control change channel 1 controller 74 value 100
      {1.250, {0x91, 48, 100}},  // note on channel 2 C3 velocity 100
      {1.500, {0x90, 67, 80}},   // note on channel 1 G4 velocity 80
      {1.500, {0xB0, 74, 120}},  // control change channel 1 controller 74 value 120
      {2.000, {0x80, 60, 64}},   // note off channel 1 C4 velocity 64
      {2.000, {0x80, 64, 64}},   // note off channel 1 E4 velocity 64
      {2.000, {0x80, 67, 64}},   // note off channel 1 G4 velocity 64
      {2.125, {0x81, 48, 0}},    // note off channel 2 C3 velocity 0
      {2.250, {0xB0, 1, 64}},    // control change channel 1 controller 1 value 64
      {2.500, {0x90, 72, 110}},  // note on channel 1 C5 velocity 110
      {3.000, {0x80, 72, 40}},   // note off channel 1 C5 velocity 40
      {3.000, {0xB0, 1, 0}},     // control change channel 1 controller 1 value 0
  };
}

Bytes fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

std::string temporaryPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          (name + "-" + std::to_string(::getpid()) + ".mid"))
      .string();
}

// Set WEX_WRITE_EXAMPLES=1 to write the example file anew from demoSong().
TEST(ExampleMIDIFile, IsTheFileTheGeneratorMakes) {
  if (std::getenv("WEX_WRITE_EXAMPLES")) writeMidiFile(kDemoSong, demoSong());
  const std::string made = temporaryPath("demo");
  writeMidiFile(made, demoSong());
  EXPECT_EQ(fileBytes(made), fileBytes(kDemoSong))
      << "run this test with WEX_WRITE_EXAMPLES=1 to make " << kDemoSong << " again";
  std::filesystem::remove(made);
}

TEST(ExampleMIDIFile, LoadsBackWithEveryEventAtItsTime) {
  std::string reason;
  std::vector<std::string> warnings;
  auto player = MIDIFilePlayer::load(kDemoSong, false, &reason, &warnings);
  ASSERT_NE(player, nullptr) << reason;
  const auto song = demoSong();
  ASSERT_EQ(player->events().size(), song.size());
  for (size_t i = 0; i < song.size(); ++i) {
    EXPECT_NEAR(player->events()[i].seconds, song[i].seconds, 1e-3) << i;
    EXPECT_EQ(player->events()[i].bytes, song[i].bytes) << i;
  }
  EXPECT_NEAR(player->duration(), 3.0, 1e-3);
}

TEST(MIDIFilePlayer, RefusesAFileThatIsNoMidiFile) {
  std::string reason;
  std::vector<std::string> warnings;
  EXPECT_EQ(MIDIFilePlayer::load(kDemoComposition, true, &reason, &warnings), nullptr);
  EXPECT_EQ(reason, kDemoComposition +
                        ": not a Standard MIDI File: it does not begin with a header chunk (MThd)");
  EXPECT_EQ(MIDIFilePlayer::load(kExamples + "missing.mid", true, &reason, &warnings), nullptr);
  EXPECT_NE(reason.find("missing.mid: cannot read the file"), std::string::npos) << reason;
  EXPECT_EQ(MIDIFilePlayer::load(kExamples, true, &reason, &warnings), nullptr);
  EXPECT_EQ(reason, kExamples + ": is a directory, not a file");
}

class RecordingNodeDelegate : public OrvMIDIDelegateProtocol {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    std::lock_guard lock(mutex_);
    for (const auto& message : messages) {
      Bytes bytes(message->wireLength());
      message->writeWireBytes(bytes.data());
      received_.push_back(bytes);
    }
  }
  std::vector<Bytes> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }

 private:
  std::mutex mutex_;
  std::vector<Bytes> received_;
};

TEST(MIDIFilePlayer, PublishesTheEventsInOrderFromItsOwnSource) {
  SystemLog::Capture log;
  auto services = std::make_shared<EmbeddedMIDIServices>(false);
  installMIDIServices(services);
  const std::string path = temporaryPath("player");
  // A sysex longer than a packet holds (65535 bytes) goes in pieces.
  Bytes longSysex(70000, 0x05);
  longSysex.front() = 0xF0;
  longSysex.back() = 0xF7;
  writeMidiFile(path, {{0.0, {0x90, 60, 100}},            // note on channel 1 C4 velocity 100
                       {0.01, {0xF0, 0x01, 0x02, 0xF7}},  // sysex of 2 data bytes
                       {0.015, longSysex},
                       {0.02, {0x80, 60, 64}}});  // note off channel 1 C4 velocity 64
  std::string reason;
  std::vector<std::string> warnings;
  auto player = MIDIFilePlayer::load(path, false, &reason, &warnings);
  ASSERT_NE(player, nullptr) << reason;
  ASSERT_TRUE(player->publish(&reason)) << reason;
  ASSERT_EQ(services->MIDIGetNumberOfSources(), 1u);
  RecordingNodeDelegate delegate;
  auto node = OrvMIDINode::initReceiverWithEndpoint(services->MIDIGetSource(0));
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->name(), "wexmidi Player");
  node->setDelegate(&delegate);
  player->start();
  while (!player->finished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(services->waitUntilDelivered(10));
  // the note on, the sysexes and the note off, in order
  EXPECT_EQ(
      delegate.received(),
      (std::vector<Bytes>{{0x90, 60, 100}, {0xF0, 0x01, 0x02, 0xF7}, longSysex, {0x80, 60, 64}}));
  EXPECT_EQ(player->unplayedEvents(), 0u);
  node.reset();
  player.reset();
  installMIDIServices(nullptr);
  std::filesystem::remove(path);
}

// A sysex too long for this program's receivers is played with a warning;
// what the services refuse is counted.
TEST(MIDIFilePlayer, WarnsOfATooLongSysexAndCountsTheEventsTheServicesRefuse) {
  SystemLog::Capture log;
  auto services = std::make_shared<EmbeddedMIDIServices>(false);
  installMIDIServices(services);
  const std::string path = temporaryPath("refused");
  Bytes sysex(200000, 0x05);
  sysex.front() = 0xF0;
  sysex.back() = 0xF7;
  writeMidiFile(path, {{0.0, {0x90, 60, 100}}, {0.5, sysex}});
  std::string reason;
  std::vector<std::string> warnings;
  auto player = MIDIFilePlayer::load(path, false, &reason, &warnings);
  ASSERT_NE(player, nullptr) << reason;
  EXPECT_EQ(warnings, std::vector<std::string>{path + ": the sysex at 0.5 s holds 200000 bytes, "
                                                      "more than the 130290 this program's "
                                                      "receivers take in pieces; it is played "
                                                      "for other programs"});
  ASSERT_TRUE(player->publish(&reason)) << reason;
  services->faults().failAlways("MIDIReceived", -50);
  player->start();
  while (!player->finished()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(player->unplayedEvents(), 2u);
  EXPECT_EQ(player->firstFailureStatus(), -50);
  player.reset();
  installMIDIServices(nullptr);
  std::filesystem::remove(path);
}

TEST(MIDIFilePlayer, AnEventCenturiesAwayIsNeverDueAndStoppingStillEndsThePlay) {
  SystemLog::Capture log;
  auto services = std::make_shared<EmbeddedMIDIServices>(false);
  installMIDIServices(services);
  const std::string path = temporaryPath("far");
  // One tick a quarter note of 16.7 s: each of the longest delta times is
  // about 140 years, and the second note comes after three of them (empty
  // text events between).
  const Bytes far = {0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x01, 0x00};
  Bytes track = {0x00, 0xFF, 0x51, 0x03, 0xFF, 0xFF, 0xFF, 0x00, 0x90, 60, 100};
  for (int i = 0; i < 3; ++i) track.insert(track.end(), far.begin(), far.end());
  track.insert(track.end(), {0x00, 0x90, 61, 100, 0x00, 0xFF, 0x2F, 0x00});
  Bytes file = {'M', 'T', 'h', 'd', 0,   0,   0,   6, 0, 0, 0,
                1,   0,   1,   'M', 'T', 'r', 'k', 0, 0, 0, static_cast<Byte>(track.size())};
  file.insert(file.end(), track.begin(), track.end());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
  std::string reason;
  std::vector<std::string> warnings;
  auto player = MIDIFilePlayer::load(path, false, &reason, &warnings);
  ASSERT_NE(player, nullptr) << reason;
  ASSERT_GT(player->duration(), 1e10);
  ASSERT_TRUE(player->publish(&reason)) << reason;
  RecordingNodeDelegate delegate;
  auto node = OrvMIDINode::initReceiverWithEndpoint(services->MIDIGetSource(0));
  ASSERT_NE(node, nullptr);
  node->setDelegate(&delegate);
  player->start();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(services->waitUntilDelivered(10));
  EXPECT_EQ(delegate.received(), (std::vector<Bytes>{{0x90, 60, 100}}));
  EXPECT_FALSE(player->finished());
  player->stop();
  EXPECT_TRUE(player->finished());
  node.reset();
  player.reset();
  installMIDIServices(nullptr);
  std::filesystem::remove(path);
}

// The last value each watched port showed, from run's JSON lines.
std::map<std::string, nlohmann::json> lastValues(const std::string& out) {
  std::map<std::string, nlohmann::json> last;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    const auto json = nlohmann::json::parse(line);
    last[json["port"]] = json["value"];
  }
  return last;
}

TEST(RunPlay, PlayingTheExampleSongThroughTheExampleCompositionLeavesTheSongsLastValues) {
  const ProgramRun run = runInProcess({"--midi", "embedded", "run", kDemoComposition, "--play",
                                       kDemoSong, "--watch", "cc.*", "--watch", "notes.*"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto last = lastValues(run.out);
  const std::map<std::string, nlohmann::json> expected = {
      {"cc.controller1", 0},    {"cc.controller7", 100},  {"cc.controller74", 120},
      {"notes.note60", false},  {"notes.velocity60", 64}, {"notes.note64", false},
      {"notes.velocity64", 64}, {"notes.note67", false},  {"notes.velocity67", 64},
      {"notes.note72", false},  {"notes.velocity72", 40}};
  EXPECT_EQ(last, expected) << run.out;
}

TEST(RunPlay, FileThatCannotBeReadIsAFailure) {
  const ProgramRun run = runInProcess(
      {"--midi", "embedded", "run", kDemoComposition, "--play", kExamples + "missing.mid"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("missing.mid"), std::string::npos) << run.err;
}

TEST(RunPlay, ADamagedFilePlaysNothingUnlessLenientAndADirectoryIsNoFile) {
  // The demo song cut inside its last event.
  Bytes song = fileBytes(kDemoSong);
  song.resize(song.size() - 6);
  const std::string path = temporaryPath("damaged");
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(song.data()), static_cast<std::streamsize>(song.size()));
  const ProgramRun strict =
      runInProcess({"--midi", "embedded", "run", kDemoComposition, "--play", path});
  EXPECT_EQ(strict.status, 1);
  EXPECT_NE(strict.err.find(path + ": track 1: its length 96 goes past the end of the file at "
                                   "byte 18 (and 1 more damage); --lenient plays what can be read"),
            std::string::npos)
      << strict.err;
  const ProgramRun lenient =
      runInProcess({"--midi", "embedded", "run", kDemoComposition, "--play", path, "--lenient"});
  EXPECT_EQ(lenient.status, 0) << lenient.err;
  EXPECT_NE(lenient.err.find("track 1 ends inside an event at byte 110"), std::string::npos)
      << lenient.err;
  std::filesystem::remove(path);
  const ProgramRun directory =
      runInProcess({"--midi", "embedded", "run", kDemoComposition, "--play", kExamples});
  EXPECT_EQ(directory.status, 1);
  EXPECT_NE(directory.err.find("is a directory, not a file"), std::string::npos) << directory.err;
}

struct MatchCase {
  const char* name;
  Names names;
  std::string wanted;
  std::vector<size_t> rows;
  std::string reasonHas;
};

class EndpointNames : public testing::TestWithParam<MatchCase> {};

TEST_P(EndpointNames, AreChosenByExactNameThenByAPartIgnoringCase) {
  std::string reason;
  EXPECT_EQ(EndpointChooser::match(GetParam().names, GetParam().wanted, "source", &reason),
            GetParam().rows);
  if (!GetParam().reasonHas.empty()) {
    EXPECT_NE(reason.find(GetParam().reasonHas), std::string::npos) << reason;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Names, EndpointNames,
    testing::Values(
        MatchCase{"ExactNameWinsOverParts", {"Keys 2", "Keys"}, "Keys", {1}, ""},
        MatchCase{"EveryRowOfAnExactNameCounts", {"Keys", "Pads", "Keys"}, "Keys", {0, 2}, ""},
        MatchCase{"PartInAnotherCase", {"USB Keys", "Pads"}, "keys", {0}, ""},
        MatchCase{"AmbiguousPartListsTheCandidates",
                  {"Keys A", "Pads", "Keys B"},
                  "keys",
                  {},
                  "\"keys\" matches several sources: \"Keys A\", \"Keys B\""},
        MatchCase{"NoMatchListsTheSources",
                  {"Keys", "Pads"},
                  "Drums",
                  {},
                  "no source is named \"Drums\"; the sources are \"Keys\", \"Pads\""},
        MatchCase{"EmptyNameMatchesOnlyAnEmptyName", {"Keys"}, "", {}, "no source"}),
    [](const testing::TestParamInfo<MatchCase>& info) { return std::string(info.param.name); });

TEST(Send, ValueThatYieldsNoMessageIsAUsageError) {
  const ProgramRun run = runInProcess({"--midi", "embedded", "send", "9452644", "1,200"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("\"1,200\" yields no message"), std::string::npos) << run.err;
}

TEST(Send, UnknownDestinationIsAFailureNamingTheDestinations) {
  const ProgramRun run = runInProcess({"--midi", "embedded", "send", "--dest", "Synth", "9452644"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the destinations are \"wexmidi Loopback\""), std::string::npos)
      << run.err;
}

TEST(Send, SendsToTheChosenDestinationAndSaysSo) {
  const ProgramRun run =
      runInProcess({"--midi", "embedded", "send", "--dest", "loopback", "9452644", "1,2,3"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.err,
      "wexmidi send: sent 2 messages to wexmidi Loopback, inside this program: nothing outside it "
      "hears them\n");
}

TEST(Send, SysexBeyondOnePacketListGoesOutInPiecesAndCountsAsOneMessageSent) {
  std::string longest = "1";
  for (int i = 1; i < 19998; ++i) longest += "," + std::to_string(i % 128);  // 20000 on the wire
  const ProgramRun run = runInProcess({"--midi", "embedded", "send", "9452644", longest, "1,2"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.err,
      "wexmidi send: sent 3 messages to wexmidi Loopback, inside this program: nothing outside it "
      "hears them\n");
}

}  // namespace
}  // namespace wex
