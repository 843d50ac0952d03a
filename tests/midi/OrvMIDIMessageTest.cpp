#include <gtest/gtest.h>

#include <array>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

const std::string kBail = "\t\terr: -[OrvMIDIMessage initWithSysexArray:] - BAIL";

TEST(OrvMIDIMessage, MessageFromTypeAndChannelHoldsTheAbsentByteMarkers) {
  auto message = OrvMIDIMessage::createWithType(0x90, 3);
  EXPECT_EQ(message->type(), 0x90);
  EXPECT_EQ(message->channel(), 3);
  EXPECT_EQ(message->data1(), 255);
  EXPECT_EQ(message->data2(), 254);
  EXPECT_EQ(message->sysexArray(), nullptr);
  EXPECT_EQ(message->description(), "<OrvMIDIMessage: 0x90 : 3 : 255 : 254>");
}

struct TextCase {
  uint8_t type, channel, data1, data2;
  const char* text;  // null: no lengthy description
};

void PrintTo(const TextCase& c, std::ostream* os) {
  *os << std::hex << int(c.type) << std::dec << " " << int(c.data1) << " " << int(c.data2);
}

class LengthyDescription : public testing::TestWithParam<TextCase> {};

TEST_P(LengthyDescription, NamesTheMessageWithItsValues) {
  const TextCase& c = GetParam();
  auto message = OrvMIDIMessage::createFromVals(c.type, c.channel, c.data1, c.data2);
  if (c.text) {
    EXPECT_EQ(message->lengthyDescription(), std::string(c.text));
  } else {
    EXPECT_EQ(message->lengthyDescription(), std::nullopt);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Types, LengthyDescription,
    testing::Values(TextCase{0x80, 2, 60, 0, "NoteOff, ch.2, note.60, val.0"},
                    TextCase{0x90, 0, 60, 100, "NoteOn, ch.0, note.60, val.100"},
                    TextCase{0xA0, 1, 61, 5, "AfterTouch, ch.1, note.61, val.5"},
                    TextCase{0xB0, 15, 7, 127, "Ctrl, ch.15, ctrl.7, val.127"},
                    TextCase{0xC0, 5, 10, 0, "PgmChange, ch.5, pgm.10"},
                    TextCase{0xD0, 4, 99, 254, "ChannelPressure, ch.4, val.99"},
                    TextCase{0xE0, 0, 0, 0x40, "PitchWheel, ch.0, val.8192"},
                    TextCase{0xE0, 0, 0x7F, 0x7F, "PitchWheel, ch.0, val.16383"},
                    TextCase{0xF1, 0, 0x35, 254, "Quarter-Frame: 53"},
                    TextCase{0xF2, 0, 0, 0x40, "Song Pos'n ptr: 8192"},
                    TextCase{0xF3, 0, 9, 254, "Song Select: 9"},
                    TextCase{0xF4, 0, 255, 254, "Undefined common"},
                    TextCase{0xF5, 0, 255, 254, "Undefined common 2"},
                    TextCase{0xF6, 0, 255, 254, "Tune Request"},
                    TextCase{0xF8, 0, 255, 254, "Clock"}, TextCase{0xF9, 0, 255, 254, "Tick"},
                    TextCase{0xFA, 0, 255, 254, "Start"}, TextCase{0xFB, 0, 255, 254, "Continue"},
                    TextCase{0xFC, 0, 255, 254, "Stop"},
                    TextCase{0xFD, 0, 255, 254, "Undefined Realtime"},
                    TextCase{0xFE, 0, 255, 254, "Active Sense"},
                    TextCase{0xFF, 0, 255, 254, "MIDI Reset"}, TextCase{0xF7, 0, 1, 2, nullptr},
                    TextCase{0x85, 0, 1, 2, nullptr}, TextCase{0x3C, 0, 1, 2, nullptr}));

TEST(OrvMIDIMessage, SysexMessageKeepsItsOwnCopyOfTheBytesAndPrintsThem) {
  std::vector<int32_t> bytes{126, 127, 6, 1};  // identity request
  auto message = OrvMIDIMessage::createWithSysexArray(bytes);
  ASSERT_NE(message, nullptr);
  bytes[0] = 5;
  bytes.push_back(9);
  ASSERT_NE(message->sysexArray(), nullptr);
  EXPECT_EQ(*message->sysexArray(), (std::vector<int32_t>{126, 127, 6, 1}));
  EXPECT_EQ(message->type(), 0xF0);
  EXPECT_EQ(message->description(), "<OrvMIDIMessage: 0xF0 : 255 : 255 : 255>");
  EXPECT_EQ(message->lengthyDescription(), "Sysex: (126, 127, 6, 1)");
}

struct RefusedSysex {
  const char* name;
  std::vector<int32_t> bytes;
  std::vector<std::string> lines;
};

void PrintTo(const RefusedSysex& c, std::ostream* os) {
  *os << c.name;
}

class SysexRefusal : public testing::TestWithParam<RefusedSysex> {};

TEST_P(SysexRefusal, YieldsNullAndLogsTheReasonThenTheBailLine) {
  SystemLog::Capture capture;
  EXPECT_EQ(OrvMIDIMessage::createWithSysexArray(GetParam().bytes), nullptr);
  EXPECT_EQ(capture.lines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, SysexRefusal,
    testing::Values(
        RefusedSysex{"ValueAbove127",
                     {1, 200, 3},
                     {"\terr: bailing, val in passed sysex array (C8) was > 0x7F", kBail}},
        RefusedSysex{"NegativeValue",
                     {1, -5},
                     {"\terr: bailing, val in passed sysex array (-5) was negative", kBail}},
        RefusedSysex{"OnlyTheFirstBadValueIsNamed",
                     {128, -1, 300},
                     {"\terr: bailing, val in passed sysex array (80) was > 0x7F", kBail}},
        RefusedSysex{"EmptyList", {}, {kBail}}),
    [](const testing::TestParamInfo<RefusedSysex>& info) { return std::string(info.param.name); });

TEST(OrvMIDIMessage, NullSysexListLogsOnlyTheBailLine) {
  SystemLog::Capture capture;
  EXPECT_EQ(OrvMIDIMessage::createWithSysexArray(nullptr), nullptr);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{kBail});
}

TEST(OrvMIDIMessage, CopyOfANoteEqualsItFieldByField) {
  auto note = OrvMIDIMessage::createFromVals(0x90, 4, 60, 100);
  auto copy = note->copy();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, note);
  EXPECT_EQ(copy->description(), note->description());
  EXPECT_EQ(copy->sysexArray(), nullptr);
}

TEST(OrvMIDIMessage, CopyOfASysexMessageHoldsTheSameBytesInItsOwnList) {
  auto sysex = OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{3, 2, 1});
  auto copy = sysex->copy();
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy->sysexArray(), nullptr);
  EXPECT_NE(copy->sysexArray(), sysex->sysexArray());
  EXPECT_EQ(*copy->sysexArray(), *sysex->sysexArray());
}

TEST(OrvMIDIMessage, CopyOfASysexTypeWithoutBytesIsRefused) {
  SystemLog::Capture capture;
  EXPECT_EQ(OrvMIDIMessage::createFromVals(0xF0, 0, 1, 2)->copy(), nullptr);
  EXPECT_EQ(capture.lines(), std::vector<std::string>{kBail});
}

TEST(OrvMIDIMessage, SettersChangeOnlyTheirField) {
  auto message = OrvMIDIMessage::createWithType(0x90, 2);
  message->setData1(60);
  message->setData2(0);
  message->setType(0x80);
  EXPECT_EQ(message->description(), "<OrvMIDIMessage: 0x80 : 2 : 60 : 0>");
  std::array<Byte, 3> wire{};
  message->writeWireBytes(wire.data());
  EXPECT_EQ(wire, (std::array<Byte, 3>{0x82, 60, 0}));  // note off channel 3 C4 velocity 0
}

}  // namespace
}  // namespace wex
