#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "services/MIDIPacketListBuffer.h"
#include "services/embedded/EmbeddedMIDIServices.h"
#include "shared/ProgramRun.h"

namespace wex {
namespace {

using test::ProgramRun;
using test::SharedTextBuffer;
using Bytes = std::vector<Byte>;

// A client of the monitor's embedded services that plays another program.
class Peer {
 public:
  explicit Peer(EmbeddedMIDIServices& services) : services_(services) {
    EXPECT_EQ(services_.MIDIClientCreate("peer", nullptr, nullptr, &client_), noErr);
    EXPECT_EQ(services_.MIDIOutputPortCreate(client_, "out", &port_), noErr);
  }
  ~Peer() { services_.MIDIClientDispose(client_); }
  void sendToLoopback(const std::vector<Bytes>& messages) {
    for (const auto& bytes : messages) {
      MIDIPacketListBuffer list;
      list.addPacket(bytes);
      services_.MIDISend(port_, services_.loopbackDestination(), list.list());
    }
    services_.waitUntilDelivered(10);
  }
  MIDIEndpointRef publishSource(const std::string& name) {
    MIDIEndpointRef source = 0;
    EXPECT_EQ(services_.MIDISourceCreate(client_, name, &source), noErr);
    return source;
  }
  void publish(MIDIEndpointRef source, const Bytes& bytes) {
    MIDIPacketListBuffer list;
    list.addPacket(bytes);
    services_.MIDIReceived(source, list.list());
    services_.waitUntilDelivered(10);
  }
  void dispose() {
    services_.MIDIClientDispose(client_);
    client_ = 0;
  }

 private:
  EmbeddedMIDIServices& services_;
  MIDIClientRef client_ = 0;
  MIDIPortRef port_ = 0;
};

// Runs `wexmidi --midi embedded monitor ARGS` on a thread; once it listens,
// `act` plays the other programs on its embedded services. The monitor then
// ends by --for.
ProgramRun monitorWhile(std::vector<std::string> args,
                        const std::function<void(Peer&, SharedTextBuffer&)>& act,
                        std::ostream* out = nullptr) {
  return test::monitorWhile(
      "embedded", std::move(args),
      [&](SharedTextBuffer& err) {
        auto services =
            std::dynamic_pointer_cast<EmbeddedMIDIServices>(currentMIDIServicesShared());
        if (!services) {
          ADD_FAILURE() << "the monitor does not run on embedded services";
          return;
        }
        Peer peer(*services);
        act(peer, err);
      },
      out);
}

const Bytes kNoteOn = {0x90, 0x3C, 0x64};  // note on channel 1 C4 velocity 100
const Bytes kIdentityRequest = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};  // sysex: identity request

TEST(Monitor, PrintsEachMessageWithItsSourceAsDecodeDoes) {
  const ProgramRun run = monitorWhile({"--for", "1"}, [](Peer& peer, SharedTextBuffer&) {
    peer.sendToLoopback({kNoteOn, kIdentityRequest});
  });
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "wexmidi Loopback\t9452644\tNoteOn, ch.0, note.60, val.100\n"
            "wexmidi Loopback\t126,127,6,1\tSysex: (126, 127, 6, 1)\n");
  EXPECT_EQ(run.err,
            "wexmidi monitor: listening to wexmidi Loopback, and to the sources that appear\n");
}

TEST(Monitor, TimeAndHexColumnsComeBeforeTheSourceAndAfterTheValue) {
  const ProgramRun run =
      monitorWhile({"--time", "--hex", "--for", "1"}, [](Peer& peer, SharedTextBuffer&) {
        peer.sendToLoopback({kNoteOn, kIdentityRequest});
      });
  ASSERT_EQ(run.status, 0) << run.err;
  const std::regex line(
      "([0-9]+\\.[0-9]{6})\twexmidi Loopback\t9452644\t90 3C 64\tNoteOn, ch.0, note.60, val.100\n"
      "([0-9]+\\.[0-9]{6})\twexmidi Loopback\t126,127,6,1\tF0 7E 7F 06 01 F7\tSysex: "
      "\\(126, 127, 6, 1\\)\n");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(run.out, match, line)) << run.out;
  EXPECT_LE(std::stod(match[1]), std::stod(match[2]));
  EXPECT_LT(std::stod(match[2]), 30);
}

TEST(Monitor, JsonNamesTheSourceAndGivesTheFieldsOfEachMessage) {
  const ProgramRun run = monitorWhile({"--json", "--hex", "--source", "WEXMIDI", "--for", "1"},
                                      [](Peer& peer, SharedTextBuffer&) {
                                        peer.sendToLoopback({{0xB3, 0x07, 0x7F}});
                                      });
  ASSERT_EQ(run.status, 0) << run.err;
  const auto line = nlohmann::json::parse(run.out);
  EXPECT_EQ(line["source"], "wexmidi Loopback");
  EXPECT_EQ(line["value"], 11732863);
  EXPECT_EQ(line["type"], 0xB0);
  EXPECT_EQ(line["channel"], 3);
  EXPECT_EQ(line["data1"], 7);
  EXPECT_EQ(line["data2"], 127);
  EXPECT_EQ(line["hex"], "B3 07 7F");
  EXPECT_EQ(line["text"], "Ctrl, ch.3, ctrl.7, val.127");
  EXPECT_TRUE(line["time"].is_number());
}

TEST(Monitor, FiltersByChannelAsMusiciansCountAndByKind) {
  const std::vector<Bytes> stream = {
      {0x90, 0x3C, 0x64},  // note on channel 1 C4 velocity 100
      {0x91, 0x3E, 0x64},  // note on channel 2 D4 velocity 100
      {0xF8},              // clock
      {0xB1, 0x07, 0x10},  // control change channel 2 controller 7 value 16
      {0xFE},              // active sensing
      {0xC1, 0x05},        // program change channel 2 program 5
      {0xE1, 0x00, 0x40},  // pitch bend channel 2 8192 (centre)
      {0xD1, 0x22}};       // channel pressure channel 2 value 34
  auto values = [&](std::vector<std::string> args) {
    args.insert(args.end(), {"--for", "1"});
    const ProgramRun run =
        monitorWhile(args, [&](Peer& peer, SharedTextBuffer&) { peer.sendToLoopback(stream); });
    EXPECT_EQ(run.status, 0) << run.err;
    std::string shown;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      shown += line.substr(line.find('\t') + 1,
                           line.find('\t', line.find('\t') + 1) - line.find('\t') - 1) +
               " ";
    }
    return shown;
  };
  // 0x91... is channel 2 to a musician; clock and active sensing have no channel.
  EXPECT_EQ(values({"--channel", "2", "--no-clock", "--no-active-sensing"}),
            "9518692 11601680 12649982 14745664 13705982 ");
  EXPECT_EQ(values({"--type", "note", "--type", "realtime", "--no-clock"}),
            "9452644 9518692 16711678 ");
  EXPECT_EQ(values({"--type", "aftertouch", "--type", "pitchbend"}), "14745664 13705982 ");
}

TEST(Monitor, FollowsSourcesThatComeAndGoAndSaysSo) {
  const ProgramRun run = monitorWhile({"--for", "2"}, [](Peer& peer, SharedTextBuffer& err) {
    const MIDIEndpointRef keys = peer.publishSource("Keys");
    ASSERT_TRUE(err.waitFor("source appeared: Keys"));
    peer.publish(keys, kNoteOn);
    peer.dispose();
    EXPECT_TRUE(err.waitFor("source went away: Keys"));
  });
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "Keys\t9452644\tNoteOn, ch.0, note.60, val.100\n");
}

TEST(Monitor, ClosedStandardOutputEndsItAtOnceWithStatusZero) {
  std::ostringstream closed;
  closed.setstate(std::ios::badbit);
  const auto start = std::chrono::steady_clock::now();
  const ProgramRun run = monitorWhile(
      {"--for", "30"}, [](Peer& peer, SharedTextBuffer&) { peer.sendToLoopback({kNoteOn}); },
      &closed);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

struct RefusalCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string named;
};

class MonitorRefusal : public testing::TestWithParam<RefusalCase> {};

constexpr const char* kForBounds = "--for: expected a number of seconds from 0 to 1000000000";

TEST_P(MonitorRefusal, NamesWhatIsWrongBeforeListening) {
  std::vector<std::string> args = {"--midi", "embedded", "monitor"};
  args.insert(args.end(), GetParam().args.begin(), GetParam().args.end());
  if (std::find(args.begin(), args.end(), "--for") == args.end()) {
    args.insert(args.end(), {"--for", "0"});
  }
  const ProgramRun run = test::runInProcess(args);
  EXPECT_EQ(run.status, GetParam().status);
  EXPECT_NE(run.err.find(GetParam().named), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, MonitorRefusal,
    testing::Values(
        RefusalCase{"UnknownSource", {"--source", "Keys"}, 1, "no source is named \"Keys\""},
        RefusalCase{"ChannelZero", {"--channel", "0"}, 2, "--channel"},
        RefusalCase{"ChannelSeventeen", {"--channel", "17"}, 2, "--channel"},
        RefusalCase{"UnknownKind", {"--type", "notes"}, 2, "\"notes\" is not a kind of message"},
        RefusalCase{"ForBeyondItsBound", {"--for", "1e10"}, 2, kForBounds},
        RefusalCase{"ForOfNoNumber", {"--for", "nan"}, 2, kForBounds},
        RefusalCase{"ForBelowZero", {"--for", "-1"}, 2, kForBounds}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wex
