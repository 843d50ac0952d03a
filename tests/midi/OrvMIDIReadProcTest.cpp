#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketListBuffer.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;
using PacketList = std::vector<Bytes>;  // the packets of one list

// A message as the tests expect it.
struct Msg {
  int type, channel, data1, data2;
  std::vector<int32_t> sysex = {};

  static Msg of(const OrvMIDIMessage& m) {
    Msg msg{m.type(), m.channel(), m.data1(), m.data2()};
    if (m.sysexArray()) msg.sysex = *m.sysexArray();
    return msg;
  }
  static Msg sysexOf(std::vector<int32_t> bytes) { return {0xF0, 255, 255, 255, std::move(bytes)}; }
  bool operator==(const Msg&) const = default;
};

void PrintTo(const Msg& m, std::ostream* os) {
  *os << "{" << std::hex << m.type << std::dec << " ch" << m.channel << " " << m.data1 << " "
      << m.data2;
  for (int32_t b : m.sysex) *os << " " << b;
  *os << "}";
}

// Stands for a receiving node: keeps the sysex state and records deliveries.
class RecordingNode : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    EXPECT_FALSE(messages.empty()) << "an empty list was delivered";
    std::vector<Msg> delivered;
    for (const auto& m : messages) delivered.push_back(Msg::of(*m));
    deliveries_.push_back(delivered);
  }

  // Runs one callback with a list of these packets; returns what it delivered
  // (nothing when receivedMIDI was not called).
  std::optional<std::vector<Msg>> callback(const PacketList& packets) {
    ByteCount size = kMIDIPacketListHeaderSize;
    for (const auto& p : packets) size += kMIDIPacketHeaderSize + p.size();
    MIDIPacketListBuffer list(size);
    for (const auto& p : packets) EXPECT_TRUE(list.addPacket(p));
    const size_t before = deliveries_.size();
    myMIDIReadProc(list.list(), static_cast<OrvMIDIReadTarget*>(this), nullptr);
    EXPECT_LE(deliveries_.size(), before + 1) << "more than one delivery in one callback";
    if (deliveries_.size() == before) return std::nullopt;
    return deliveries_.back();
  }

  std::vector<std::vector<Msg>> deliveries_;
};

constexpr int kNone1 = 0xFF;  // absent data1
constexpr int kNone2 = 0xFE;  // absent data2
const std::string kBail = "\t\terr: -[OrvMIDIMessage initWithSysexArray:] - BAIL";

struct ParseCase {
  const char* name;
  std::vector<PacketList> callbacks;
  // Per callback: the list delivered, or nothing.
  std::vector<std::optional<std::vector<Msg>>> delivered;
  std::vector<std::string> logLines = {};
};

using Delivery = std::optional<std::vector<Msg>>;
const Delivery kNothing = std::nullopt;

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadProcCases : public testing::TestWithParam<ParseCase> {};

TEST_P(ReadProcCases, DeliversTheExpectedMessagesPerCallback) {
  const ParseCase& c = GetParam();
  SystemLog::Capture capture;
  RecordingNode node;
  for (size_t i = 0; i < c.callbacks.size(); ++i) {
    EXPECT_EQ(node.callback(c.callbacks[i]), c.delivered[i]) << "callback " << i;
  }
  EXPECT_EQ(capture.lines(), c.logLines);
}

INSTANTIATE_TEST_SUITE_P(
    ByteStreams, ReadProcCases,
    testing::Values(
        ParseCase{"NoteOn",
                  {{{0x90, 0x3C, 0x64}}},  // note on channel 1 C4 velocity 100
                  {std::vector<Msg>{{0x90, 0, 60, 100}}}},
        ParseCase{"NoteOnWithVelocity0IsANoteOff",
                  {{{0x93, 0x3C, 0x00}}},  // note on channel 4 C4 velocity 0
                  {std::vector<Msg>{{0x80, 3, 60, 0}}}},
        ParseCase{"NoteOffStaysNoteOff",
                  {{{0x80, 0x3C, 0x00}}},  // note off channel 1 C4 velocity 0
                  {std::vector<Msg>{{0x80, 0, 60, 0}}}},
        ParseCase{"ProgramChangeKeepsTheSecondMarker",
                  {{{0xC5, 0x07}}},  // program change channel 6 program 7
                  {std::vector<Msg>{{0xC0, 5, 7, kNone2}}}},
        ParseCase{"NoRunningStatus",
                  // note on channel 1 C4 velocity 100, then D4 velocity 100 left to running status
                  {{{0x90, 0x3C, 0x64, 0x3E, 0x64}}},
                  {std::vector<Msg>{{0x90, 0, 60, 100}}}},
        ParseCase{"AMessageContinuesIntoTheNextPacketOfTheList",
                  {{{0x90}, {0x3C, 0x64}}},  // note on channel 1 C4 velocity 100
                  {std::vector<Msg>{{0x90, 0, 60, 100}}}},
        ParseCase{"AMessageDoesNotContinueIntoTheNextCallback",
                  {{{0x90}}, {{0x3C, 0x64}}},  // note on channel 1 C4 velocity 100
                  {std::vector<Msg>{{0x90, 0, kNone1, kNone2}}, kNothing}},
        ParseCase{"SystemCommonTakesItsDataBytes",
                  // song position 8192, tune request, quarter frame 53
                  {{{0xF2, 0x00, 0x40, 0xF6, 0xF1, 0x35}}},
                  {std::vector<Msg>{
                      {0xF2, 0, 0, 0x40}, {0xF6, 0, kNone1, kNone2}, {0xF1, 0, 0x35, kNone2}}}},
        ParseCase{"DataBytesThatBelongToNothingAreDropped", {{{0x3C, 0x64}}}, {kNothing}},
        ParseCase{"SysexInOnePacket",
                  {{{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}},  // sysex: identity request
                  {std::vector<Msg>{Msg::sysexOf({126, 127, 6, 1})}}},
        ParseCase{"SysexAcrossCallbacks",
                  {{{0xF0, 0x7E}}, {{0x7F, 0x06}, {0x01, 0xF7}}},  // sysex: identity request
                  {kNothing, std::vector<Msg>{Msg::sysexOf({126, 127, 6, 1})}}},
        ParseCase{"RealtimeInsideSysexComesFirstAndDoesNotJoinIt",
                  {{{0xF0, 0x01, 0xF8, 0x02, 0xF7}}},  // sysex of 2 data bytes, clock between them
                  {std::vector<Msg>{{0xF8, 0, kNone1, kNone2}, Msg::sysexOf({1, 2})}}},
        ParseCase{"RealtimeBetweenTheBytesOfANoteLeavesTheNoteWhole",
                  // note on channel 1 C4 velocity 100, a clock after its status
                  {{{0x90, 0xF8, 0x3C, 0x64}}},
                  {std::vector<Msg>{{0x90, 0, 60, 100}, {0xF8, 0, kNone1, kNone2}}}},
        ParseCase{"RealtimeTakesNoDataBytes",
                  {{{0xF8, 0x3C, 0x64}}},  // clock, then two data bytes
                  {std::vector<Msg>{{0xF8, 0, kNone1, kNone2}}}},
        ParseCase{"EmptySysexDeliversNothingAndLogs", {{{0xF0, 0xF7}}}, {kNothing}, {kBail}},
        ParseCase{"DataBytesAfterASysexEndAreDropped",
                  {{{0xF0, 0x01, 0xF7, 0x3C, 0x64}}},  // sysex of 1 data byte, then two data bytes
                  {std::vector<Msg>{Msg::sysexOf({1})}}},
        ParseCase{"StrayEndAfterACompletedSysexDeliversNothing",
                  // sysex of 1 data byte and a second end; then an end alone
                  {{{0xF0, 0x01, 0xF7, 0xF7}}, {{0xF7}}},
                  {std::vector<Msg>{Msg::sysexOf({1})}, kNothing}},
        ParseCase{"ChannelStatusAbandonsAnOpenSysex",
                  // sysex start, 2 data bytes, note on channel 1 C4 velocity 100, sysex end
                  {{{0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64, 0xF7}}},
                  {std::vector<Msg>{{0x90, 0, 60, 100}}}},
        ParseCase{"SystemCommonStatusAbandonsAnOpenSysex",
                  {{{0xF0, 0x01}}, {{0xF3, 0x05, 0xF7}}},  // sysex start; song select 5, sysex end
                  {kNothing, std::vector<Msg>{{0xF3, 0, 5, kNone2}}}},
        ParseCase{"ANewSysexStartReplacesAnOpenOne",
                  // sysex start and 1 data byte, then a whole sysex of 1 data byte
                  {{{0xF0, 0x01, 0xF0, 0x02, 0xF7}}},
                  {std::vector<Msg>{Msg::sysexOf({2})}}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

TEST(ReadProc, SysexStateIsKeptOnTheNodeBetweenCallbacks) {
  RecordingNode node;
  node.callback({{0xF0, 0x7E}});  // sysex start and one data byte
  EXPECT_TRUE(node.processingSysex());
  EXPECT_EQ(node.processingSysexIterationCount(), 0);
  EXPECT_EQ(node.sysexArray(), (std::vector<int32_t>{0x7E}));

  node.callback({});  // a list without packets still counts
  EXPECT_TRUE(node.processingSysex());
  EXPECT_EQ(node.processingSysexIterationCount(), 1);

  node.callback({{0x01, 0xF7}});  // last data byte and sysex end
  EXPECT_FALSE(node.processingSysex());
  EXPECT_EQ(node.processingSysexIterationCount(), 0);
  ASSERT_EQ(node.deliveries_.size(), 1u);
  EXPECT_EQ(node.deliveries_[0], std::vector<Msg>{Msg::sysexOf({0x7E, 0x01})});
}

class SysexCallbackLimit : public testing::Test {
 protected:
  // Opens a sysex with one byte, then runs `further` callbacks of one byte each.
  void feedOpenSysex(int further) {
    node_.callback({{0xF0, 0x01}});
    for (int i = 1; i <= further; ++i) node_.callback({{static_cast<Byte>(i % 0x80)}});
  }
  RecordingNode node_;
};

TEST_F(SysexCallbackLimit, SysexEndedIn128thFurtherCallbackIsDeliveredWhole) {
  feedOpenSysex(127);
  EXPECT_TRUE(node_.processingSysex());
  EXPECT_EQ(node_.processingSysexIterationCount(), 127);
  auto delivered = node_.callback({{0x7F, 0xF7}});
  ASSERT_TRUE(delivered.has_value());
  ASSERT_EQ(delivered->size(), 1u);
  EXPECT_EQ((*delivered)[0].sysex.size(), 1u + 127u + 1u);
}

TEST_F(SysexCallbackLimit, SysexIsAbandonedAndEmptiedAtThe129thFurtherCallback) {
  feedOpenSysex(128);
  EXPECT_TRUE(node_.processingSysex());
  EXPECT_EQ(node_.processingSysexIterationCount(), 128);

  SystemLog::Capture capture;
  EXPECT_EQ(node_.callback({{0x05, 0x06}}), kNothing);
  EXPECT_FALSE(node_.processingSysex());
  EXPECT_EQ(node_.processingSysexIterationCount(), 0);
  EXPECT_TRUE(node_.sysexArray().empty());

  // The end that arrives later finds no sysex open and delivers nothing.
  EXPECT_EQ(node_.callback({{0xF7}}), kNothing);
  EXPECT_TRUE(capture.lines().empty());
}

TEST(ReadProc, NullListOrTargetIsIgnored) {
  RecordingNode node;
  myMIDIReadProc(nullptr, static_cast<OrvMIDIReadTarget*>(&node), nullptr);
  MIDIPacketListBuffer list;
  myMIDIReadProc(list.list(), nullptr, nullptr);
  EXPECT_TRUE(node.deliveries_.empty());
}

}  // namespace
}  // namespace wex
