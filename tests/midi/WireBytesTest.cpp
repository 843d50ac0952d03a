#include <gtest/gtest.h>

#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;
using MessagePtr = OrvMIDIMessagePtr;

struct WireCase {
  const char* name;
  MessagePtr message;
  Bytes bytes;
};

MessagePtr vals(uint8_t type, uint8_t channel, uint8_t data1, uint8_t data2) {
  return OrvMIDIMessage::createFromVals(type, channel, data1, data2);
}

Bytes wireOf(const OrvMIDIMessage& message) {
  Bytes bytes(message.wireLength(), 0xAA);
  EXPECT_EQ(message.writeWireBytes(bytes.data()), bytes.size());
  return bytes;
}

// Parses bytes as a receiving node would, keeping what was delivered.
class Collector : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    received_.insert(received_.end(), messages.begin(), messages.end());
  }

  OrvMIDIMessageList parse(const Bytes& bytes) {
    MIDIPacketListBuffer list;
    EXPECT_TRUE(list.addPacket(bytes));
    received_.clear();
    myMIDIReadProc(list.list(), static_cast<OrvMIDIReadTarget*>(this), nullptr);
    return received_;
  }

 private:
  OrvMIDIMessageList received_;
};

void PrintTo(const WireCase& c, std::ostream* os) {
  *os << c.name;
}

class WireBytes : public testing::TestWithParam<WireCase> {};

TEST_P(WireBytes, MessageGoesOutAsTheseBytes) {
  EXPECT_EQ(wireOf(*GetParam().message), GetParam().bytes);
}

TEST_P(WireBytes, BytesParseBackIntoAMessageThatGoesOutTheSame) {
  Collector collector;
  const auto parsed = collector.parse(GetParam().bytes);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(wireOf(*parsed[0]), GetParam().bytes);
  EXPECT_EQ(parsed[0]->type(), GetParam().message->type());
}

INSTANTIATE_TEST_SUITE_P(
    Messages, WireBytes,
    testing::Values(
        WireCase{"NoteOn",
                 vals(0x90, 1, 60, 100),
                 {0x91, 0x3C, 0x64}},  // note on channel 2 C4 velocity 100
        WireCase{"NoteOff",
                 vals(0x80, 15, 60, 0),
                 {0x8F, 0x3C, 0x00}},  // note off channel 16 C4 velocity 0
        WireCase{"PolyAftertouch",
                 vals(0xA0, 2, 61, 9),
                 {0xA2, 0x3D, 0x09}},  // poly pressure channel 3 C#4 value 9
        WireCase{"ControlChange",
                 vals(0xB0, 3, 7, 127),
                 {0xB3, 0x07, 0x7F}},  // control change channel 4 controller 7 value 127
        WireCase{"ProgramChangeHasOneDataByte",
                 vals(0xC0, 1, 5, 0),
                 {0xC1, 0x05}},  // program change channel 2 program 5
        WireCase{"ChannelPressureHasOneDataByte",
                 vals(0xD0, 0, 64, 0),
                 {0xD0, 0x40}},  // channel pressure channel 1 value 64
        WireCase{"PitchWheel",
                 vals(0xE0, 0, 0, 0x40),
                 {0xE0, 0x00, 0x40}},  // pitch bend channel 1 8192 (centre)
        WireCase{"QuarterFrame", vals(0xF1, 0, 0x35, 0xFE), {0xF1, 0x35}},
        WireCase{"SongPositionPointer", vals(0xF2, 0, 0, 0x40), {0xF2, 0x00, 0x40}},
        WireCase{"SongSelect", vals(0xF3, 0, 9, 0xFE), {0xF3, 0x09}},
        WireCase{"TuneRequestHasNoDataBytes", vals(0xF6, 0, 1, 2), {0xF6}},
        WireCase{"ClockAsTheParserMakesIt", OrvMIDIMessage::createWithType(0xF8, 0), {0xF8}},
        WireCase{"Reset", OrvMIDIMessage::createWithType(0xFF, 0), {0xFF}},
        WireCase{"SysexIsFramed",
                 OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{126, 127, 6, 1}),
                 {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}),  // sysex: identity request
    [](const testing::TestParamInfo<WireCase>& info) { return std::string(info.param.name); });

TEST(WireBytesOfShortMessages, AbsentByteMarkersNeverReachTheWireAsStatusBytes) {
  // A note on that never received its data bytes holds 0xFF and 0xFE: they go
  // out as note on channel 3 G9 velocity 126. A program change holding
  // program 0x85 goes out as program change channel 1 program 5.
  EXPECT_EQ(wireOf(*OrvMIDIMessage::createWithType(0x90, 2)), (Bytes{0x92, 0x7F, 0x7E}));
  EXPECT_EQ(wireOf(*vals(0xC0, 0, 0x85, 0)), (Bytes{0xC0, 0x05}));
}

TEST(WireBytesOfSysexType, WithoutASysexListGoesOutAsAnEmptyFrame) {
  EXPECT_EQ(wireOf(*vals(0xF0, 0, 1, 2)), (Bytes{0xF0, 0xF7}));
}

TEST(WireBytesOfSysexType, LongSysexKeepsEveryByteInOrder) {
  std::vector<int32_t> elements(1008);
  for (size_t i = 0; i < elements.size(); ++i) elements[i] = static_cast<int32_t>(i % 128);
  const Bytes bytes = wireOf(*OrvMIDIMessage::createWithSysexArray(elements));
  ASSERT_EQ(bytes.size(), 1010u);
  EXPECT_EQ(bytes.front(), 0xF0);
  EXPECT_EQ(bytes.back(), 0xF7);
  for (size_t i = 0; i < elements.size(); ++i) ASSERT_EQ(bytes[i + 1], elements[i]) << i;
}

}  // namespace
}  // namespace wex
