#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "app/WexmidiProgram.h"
#include "midiio/HexReader.h"
#include "shared/ProgramRun.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using test::ProgramRun;
using test::runInProcess;

struct OutputCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  std::string out;
};

void PrintTo(const OutputCase& c, std::ostream* os) {
  *os << c.name;
}

// decode F0 01, then `emptyLists` empty packet lists, then 02 F7.
std::vector<std::string> sysexAcrossEmptyLists(size_t emptyLists) {
  std::vector<std::string> args = {"decode", "F0", "01", "//"};
  args.insert(args.end(), emptyLists, "//");
  args.insert(args.end(), {"02", "F7"});
  return args;
}

class DecodeAndEncodeOutput : public testing::TestWithParam<OutputCase> {};

TEST_P(DecodeAndEncodeOutput, PrintsExactlyTheExpectedLines) {
  SystemLog::Capture parserLog;
  const ProgramRun run = runInProcess(GetParam().args, GetParam().input);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_EQ(run.err, "");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, DecodeAndEncodeOutput,
    testing::Values(
        OutputCase{"DecodeSysexFromArguments",
                   {"decode", "F0", "7E", "7F", "06", "01", "F7"},
                   "",
                   "126,127,6,1\tSysex: (126, 127, 6, 1)\n"},
        OutputCase{"EncodeNumberAndSysexString",
                   {"encode", "9452644", "1,2,3"},
                   "",
                   "90 3C 64\nF0 01 02 03 F7\n"},
        OutputCase{"DecodeARunOfHexDigitsInLowerCase",
                   {"decode", "903c64c105"},
                   "",
                   "9452644\tNoteOn, ch.0, note.60, val.100\n12649982\tPgmChange, ch.1, pgm.5\n"},
        OutputCase{"DecodeFromStandardInputKeepsTheSysexAcrossLists",
                   {"decode"},
                   "# identity request\nF0 7E //  # the first list\n7F 06 / F8 01 F7\n",
                   "16318462\tClock\n126,127,6,1\tSysex: (126, 127, 6, 1)\n"},
        OutputCase{"DecodeDoesNotCarryAMessageIntoTheNextList",
                   {"decode", "90", "//", "3C", "64"},
                   "",
                   "9502718\tNoteOn, ch.0, note.255, val.254\n"},
        OutputCase{"DecodeJoinsTheBytesOfPacketsInOneList",
                   {"decode", "90", "/", "3C", "/", "64"},
                   "",
                   "9452644\tNoteOn, ch.0, note.60, val.100\n"},
        OutputCase{"DecodeOfAnEmptySysexPrintsNothing", {"decode", "F0", "F7"}, "", ""},
        OutputCase{"AnEmptyPacketListIsACallbackOfItsOwn",
                   {"decode", "--json", "F0", "01", "//", "//", "02", "F7"},
                   "",
                   "{\"callback\":2,\"value\":\"1,2\",\"type\":240,\"channel\":255,"
                   "\"sysex\":[1,2],\"text\":\"Sysex: (1, 2)\"}\n"},
        OutputCase{"ASysexSurvives128EmptyPacketLists", sysexAcrossEmptyLists(127), "",
                   "1,2\tSysex: (1, 2)\n"},
        // Abandoned, and emptied, as the 129th further list begins.
        OutputCase{"ASysexIsAbandonedAtThe129thFurtherPacketList", sysexAcrossEmptyLists(128), "",
                   ""},
        OutputCase{"EmptyLinesAndCommentsAreNoPacketLists",
                   {"decode"},
                   "F0 01\n\n# nothing\n02 F7\n",
                   "1,2\tSysex: (1, 2)\n"},
        OutputCase{"EachLineOfInputIsAPacketListOfItsOwn",
                   {"decode"},
                   "90\n3C 64\nB0 07 7F\n",
                   "9502718\tNoteOn, ch.0, note.255, val.254\n11536255\tCtrl, ch.0, ctrl.7, "
                   "val.127\n"},
        OutputCase{"AfterADoubleSlashListsEndAtDoubleSlashesOnly",
                   {"decode"},
                   "//\n90\n3C 64\n",
                   "9452644\tNoteOn, ch.0, note.60, val.100\n"},
        OutputCase{"EncodeHexNumberQuotedByteAndClock",
                   {"encode", "0x903C64", "\"5\"", "16318462", "12649982"},
                   "",
                   "90 3C 64\nF0 05 F7\nF8\nC1 05\n"}),
    [](const testing::TestParamInfo<OutputCase>& info) { return std::string(info.param.name); });

TEST(Decode, JsonGivesOneObjectPerMessageWithItsCallbackIndex) {
  const ProgramRun run =
      runInProcess({"decode", "--json", "90", "3C", "64", "//", "F0", "01", "02", "F7"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::istringstream lines(run.out);
  std::string first, second, extra;
  ASSERT_TRUE(std::getline(lines, first));
  ASSERT_TRUE(std::getline(lines, second));
  EXPECT_FALSE(std::getline(lines, extra));

  const auto note = nlohmann::json::parse(first);
  EXPECT_EQ(note["callback"], 0);
  EXPECT_EQ(note["value"], 9452644);
  EXPECT_EQ(note["type"], 0x90);
  EXPECT_EQ(note["channel"], 0);
  EXPECT_EQ(note["data1"], 60);
  EXPECT_EQ(note["data2"], 100);
  EXPECT_FALSE(note.contains("sysex"));
  EXPECT_EQ(note["text"], "NoteOn, ch.0, note.60, val.100");

  const auto sysex = nlohmann::json::parse(second);
  EXPECT_EQ(sysex["callback"], 1);
  EXPECT_EQ(sysex["value"], "1,2");
  EXPECT_EQ(sysex["type"], 0xF0);
  EXPECT_EQ(sysex["sysex"], nlohmann::json::array({1, 2}));
  EXPECT_EQ(sysex["text"], "Sysex: (1, 2)");
}

std::string repeated(const std::string& text, size_t times) {
  std::string result;
  result.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) result += text;
  return result;
}

struct UsageErrorCase {
  const char* name;
  std::vector<std::string> args;
  std::string input;
  std::string named;  // what the error must mention
};

void PrintTo(const UsageErrorCase& c, std::ostream* os) {
  *os << c.name;
}

class DecodeUsageError : public testing::TestWithParam<UsageErrorCase> {};

TEST_P(DecodeUsageError, ExitsWith2AndNamesTheBadTokenBeforeDecodingAnything) {
  const ProgramRun run = runInProcess(GetParam().args, GetParam().input);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find(GetParam().named), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(
    Tokens, DecodeUsageError,
    testing::Values(
        UsageErrorCase{"LoneNibble", {"decode", "90", "3C", "6"}, "", "\"6\""},
        UsageErrorCase{"OddRun", {"decode", "903C6"}, "", "\"903C6\""},
        UsageErrorCase{"NotHex", {"decode", "90", "GZ"}, "", "\"GZ\""},
        UsageErrorCase{"TripleSlash", {"decode", "///"}, "", "\"///\""},
        UsageErrorCase{"BadTokenOnALineOfInput", {"decode"}, "# first\n90 3C 0x7\n", "line 2"},
        // Input that would hold memory without bounds.
        UsageErrorCase{"NulBytes",
                       {"decode"},
                       std::string(300000, '\0'),
                       "line 1: \"" + std::string(40, '\0') + "...\" is not a hex byte"},
        UsageErrorCase{"TokenBeyondItsBound",
                       {"decode"},
                       std::string(HexReader::kMaxWordLength + 2, 'A') + "\n",
                       "is longer than 2097152 characters"},
        UsageErrorCase{"LineBeyondItsBound",
                       {"decode"},
                       repeated("F8 ", 1024 * 1024 + 1) + "\n",
                       "line 1: a packet list of more than 1048576 bytes"},
        UsageErrorCase{"SysexBeyondItsBound",
                       {"decode"},
                       "F0\n" + repeated(repeated("01", 65536) + "\n", 17),
                       "line 18: a sysex of more than 1048576 bytes"}),
    [](const testing::TestParamInfo<UsageErrorCase>& info) {
      return std::string(info.param.name);
    });

TEST(Encode, ValueWithoutAMessageIsNamedOnStandardErrorAndTheOthersStillPrint) {
  SystemLog::Capture messageLog;
  const ProgramRun run = runInProcess({"encode", "9452644", "abc", "1,200", "1,2,3"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "90 3C 64\nF0 01 02 03 F7\n");
  EXPECT_NE(run.err.find("\"abc\""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("no digits"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\"1,200\""), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("200 is above 127"), std::string::npos) << run.err;
}

TEST(Encode, SystemExclusiveStatusNumberIsRefusedWithItsReason) {
  const ProgramRun run = runInProcess({"encode", "15728640"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("0xF0"), std::string::npos) << run.err;
}

TEST(Encode, WithoutValuesIsAUsageError) {
  EXPECT_EQ(runInProcess({"encode"}).status, 2);
}

TEST(DecodeAndEncode, HelpDescribesTheOptionsAndSucceeds) {
  const ProgramRun decode = runInProcess({"decode", "--help"});
  EXPECT_EQ(decode.status, 0);
  EXPECT_NE(decode.out.find("--json"), std::string::npos);
  const ProgramRun encode = runInProcess({"encode", "--help"});
  EXPECT_EQ(encode.status, 0);
  EXPECT_NE(encode.out.find("sysex string"), std::string::npos);
}

}  // namespace
}  // namespace wex
