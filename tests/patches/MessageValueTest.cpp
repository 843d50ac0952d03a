#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "host/Structure.h"
#include "midi/OrvMIDIMessage.h"
#include "patches/MessageValue.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using MessagePtr = OrvMIDIMessagePtr;

// A message as the tests expect it.
struct Msg {
  int type, channel, data1, data2;
  std::vector<int32_t> sysex = {};
  bool operator==(const Msg&) const = default;
};

std::optional<Msg> msgOf(const MessagePtr& m) {
  if (!m) return std::nullopt;
  Msg msg{m->type(), m->channel(), m->data1(), m->data2()};
  if (m->sysexArray()) msg.sysex = *m->sysexArray();
  return msg;
}

Msg sysexMsg(std::vector<int32_t> bytes) {
  return {0xF0, 255, 255, 255, std::move(bytes)};
}

void PrintTo(const Msg& m, std::ostream* os) {
  *os << "{" << std::hex << m.type << std::dec << " ch" << m.channel << " " << m.data1 << " "
      << m.data2;
  for (int32_t b : m.sysex) *os << " " << b;
  *os << "}";
}

struct WriteCase {
  const char* name;
  MessagePtr message;
  Value value;
};

void PrintTo(const WriteCase& c, std::ostream* os) {
  *os << c.name;
}

class WriteMessageValue : public testing::TestWithParam<WriteCase> {};

TEST_P(WriteMessageValue, GivesTheMessageNumberOrSysexString) {
  EXPECT_EQ(MessageValue::write(*GetParam().message), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, WriteMessageValue,
    testing::Values(
        WriteCase{"NoteOn", OrvMIDIMessage::createFromVals(0x90, 0, 60, 100),
                  Value::number(9452644)},
        WriteCase{"ControlChange", OrvMIDIMessage::createFromVals(0xB0, 3, 7, 127),
                  Value::number(11732863)},
        WriteCase{"ProgramChangeKeepsTheMarker", OrvMIDIMessage::createFromVals(0xC0, 1, 5, 0xFE),
                  Value::number(12649982)},
        WriteCase{"ClockKeepsItsWholeStatusByte", OrvMIDIMessage::createWithType(0xF8, 0),
                  Value::number(16318462)},
        WriteCase{"Sysex",
                  OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{126, 127, 6, 1}),
                  Value::string("126,127,6,1")}),
    [](const testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct ReadCase {
  const char* name;
  Value value;
  std::optional<Msg> message;  // nothing: the value yields no message
};

void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

class ReadMessageValue : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadMessageValue, YieldsTheExpectedMessageOrNone) {
  SystemLog::Capture quiet;
  std::string whyNot;
  const auto message = MessageValue::read(GetParam().value, &whyNot);
  EXPECT_EQ(msgOf(message), GetParam().message);
  EXPECT_EQ(whyNot.empty(), message != nullptr) << whyNot;
}

const double kInfinity = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Numbers, ReadMessageValue,
    testing::Values(
        ReadCase{"NoteOn", Value::number(9452644), Msg{0x90, 0, 60, 100}},
        ReadCase{"IndexValue", Value::index(9452644), Msg{0x90, 0, 60, 100}},
        ReadCase{"BitsAbove23AreIgnored", Value::number(16777216 + 9452644), Msg{0x90, 0, 60, 100}},
        ReadCase{"FractionIsDropped", Value::number(9452644.7), Msg{0x90, 0, 60, 100}},
        ReadCase{"MarkersComeBackAs7Bits", Value::number(12649982), Msg{0xC0, 1, 5, 0x7E}},
        ReadCase{"ClockIsReadAsAClock", Value::number(16318462), Msg{0xF8, 0, 0x7F, 0x7E}},
        ReadCase{"SongPositionIsReadAsSystemCommon", Value::number(0xF20040),
                 Msg{0xF2, 0, 0, 0x40}},
        ReadCase{"ResetIsReadAsAReset", Value::number(0xFF0000), Msg{0xFF, 0, 0, 0}},
        ReadCase{"StatusBelow0x80YieldsNothing", Value::number(0x7F3C64), std::nullopt},
        ReadCase{"ZeroYieldsNothing", Value::number(0), std::nullopt},
        ReadCase{"SysexStatusYieldsNothing", Value::number(0xF00102), std::nullopt},
        ReadCase{"SysexEndStatusYieldsNothing", Value::number(0xF70000), std::nullopt},
        ReadCase{"NegativeNumberYieldsNothing", Value::number(-9452644), std::nullopt},
        ReadCase{"NotANumberYieldsNothing", Value::number(std::nan("")), std::nullopt},
        ReadCase{"InfinityYieldsNothing", Value::number(kInfinity), std::nullopt},
        ReadCase{"NumberBeyond64BitsYieldsNothing", Value::number(1e30), std::nullopt},
        ReadCase{"BooleanYieldsNothing", Value::boolean(true), std::nullopt},
        ReadCase{"NoneYieldsNothing", Value(), std::nullopt}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    SysexStrings, ReadMessageValue,
    testing::Values(
        ReadCase{"ThreeBytes", Value::string("1,2,3"), sysexMsg({1, 2, 3})},
        ReadCase{"UniversalIdentityRequest", Value::string("126,127,6,1"),
                 sysexMsg({126, 127, 6, 1})},
        ReadCase{"LeadingBlanksAndTrailingCharactersAreSkipped", Value::string(" 5,6x"),
                 sysexMsg({5, 6})},
        ReadCase{"PlusSignAndTabAreAccepted", Value::string("+5,\t7"), sysexMsg({5, 7})},
        ReadCase{"EmptyTextYieldsNothing", Value::string(""), std::nullopt},
        ReadCase{"EmptyPieceYieldsNothing", Value::string("1,,2"), std::nullopt},
        ReadCase{"TrailingCommaYieldsNothing", Value::string("1,2,"), std::nullopt},
        ReadCase{"PieceWithoutDigitsYieldsNothing", Value::string("abc"), std::nullopt},
        ReadCase{"SignWithoutDigitsYieldsNothing", Value::string("1,-"), std::nullopt},
        ReadCase{"ByteAbove127YieldsNothing", Value::string("128"), std::nullopt},
        ReadCase{"LaterByteAbove127YieldsNothing", Value::string("1,200"), std::nullopt},
        ReadCase{"MinusOneYieldsNothing", Value::string("-1"), std::nullopt},
        ReadCase{"PieceBeyond32BitsYieldsNothing", Value::string("1,4294967297"), std::nullopt},
        ReadCase{"NegativePieceBeyond32BitsYieldsNothing", Value::string("-2147483649"),
                 std::nullopt}),
    [](const testing::TestParamInfo<ReadCase>& info) { return std::string(info.param.name); });

TEST(MessageValue, StructureYieldsNoMessage) {
  const auto list = Structure::makeList({Value::number(9452644)});
  EXPECT_EQ(MessageValue::read(Value::structure(list)), nullptr);
}

TEST(MessageValue, RefusedSysexStringsLogThroughTheMessage) {
  SystemLog::Capture capture;
  EXPECT_EQ(MessageValue::read(Value::string("-1")), nullptr);
  EXPECT_EQ(MessageValue::read(Value::string("1,200")), nullptr);
  EXPECT_EQ(capture.lines(),
            (std::vector<std::string>{"\terr: bailing, val in passed sysex array (-1) was negative",
                                      "\t\terr: -[OrvMIDIMessage initWithSysexArray:] - BAIL",
                                      "\terr: bailing, val in passed sysex array (C8) was > 0x7F",
                                      "\t\terr: -[OrvMIDIMessage initWithSysexArray:] - BAIL"}));
}

TEST(MessageValue, WrittenValuesReadBackAsTheSameMessage) {
  const std::vector<MessagePtr> messages = {
      OrvMIDIMessage::createFromVals(0x90, 0, 60, 100),
      OrvMIDIMessage::createFromVals(0x80, 15, 0, 0),
      OrvMIDIMessage::createFromVals(0xB0, 9, 127, 127),
      OrvMIDIMessage::createFromVals(0xE0, 3, 0, 0x40),
      OrvMIDIMessage::createFromVals(0xF2, 0, 1, 2),
      OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{126, 127, 6, 1}),
      OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{0})};
  for (const auto& message : messages) {
    EXPECT_EQ(msgOf(MessageValue::read(MessageValue::write(*message))), msgOf(message))
        << message->description();
  }
}

TEST(MessageValue, SplitGivesTheFieldsWithoutMakingAMessage) {
  const auto note = MessageValue::split(9452644);
  ASSERT_TRUE(note.has_value());
  EXPECT_EQ(note->type, 0x90);
  EXPECT_EQ(note->channel, 0);
  EXPECT_EQ(note->data1, 60);
  EXPECT_EQ(note->data2, 100);

  const auto control = MessageValue::split(0xBFFFFF);
  ASSERT_TRUE(control.has_value());
  EXPECT_EQ(control->type, 0xB0);
  EXPECT_EQ(control->channel, 15);
  EXPECT_EQ(control->data1, 0x7F);
  EXPECT_EQ(control->data2, 0x7F);

  EXPECT_FALSE(MessageValue::split(0x3C64).has_value());
}

}  // namespace
}  // namespace wex
