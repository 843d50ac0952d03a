#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/SendArguments.h"
#include "app/WexmidiProgram.h"
#include "shared/ProgramRun.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using test::ProgramRun;
using test::runInProcess;

ProgramRun runSend(std::vector<std::string> args) {
  args.insert(args.begin(), {"--midi", "embedded", "send"});
  return runInProcess(std::move(args));
}

std::string valuesOf(const SendArguments& read) {
  std::string text;
  for (const auto& value : read.messages()) {
    text += value.isString() ? value.asString()
                             : std::to_string(static_cast<uint64_t>(value.toDouble()));
    text += ' ';
  }
  return text;
}

class SyxFile : public testing::Test {
 protected:
  SyxFile() {
    std::ofstream file(path_, std::ios::binary);
    file << std::string("\xF0\x7E\x7F\x06\x01\xF7\xF0\x01\xF7", 9);
  }
  ~SyxFile() override { std::filesystem::remove(path_); }
  const std::string path_ = std::filesystem::temp_directory_path() /
                            ("wexmidi-send-" + std::to_string(::getpid()) + ".syx");
};

TEST_F(SyxFile, WordsHexFilesAndValuesBecomeMessagesInTheOrderGiven) {
  using K = SendArguments::Kind;
  const SendArguments read({{K::Plain, "on"},
                            {K::Plain, "1"},
                            {K::Plain, "60"},
                            {K::Plain, "100"},
                            {K::Hex, "F8 / B0 07 7F // C1 05"},
                            {K::Plain, "pb"},
                            {K::Plain, "16"},
                            {K::Plain, "8192"},
                            {K::File, path_},
                            {K::Plain, "0x803C00"},
                            {K::Plain, "off"},
                            {K::Plain, "2"},
                            {K::Plain, "60"},
                            {K::Plain, "0"},
                            {K::Plain, "cc"},
                            {K::Plain, "16"},
                            {K::Plain, "1.0"},   // whole numbers as everywhere: 1.0 and
                            {K::Plain, "64e0"},  // 64e0 are 1 and 64
                            {K::Plain, "pc"},
                            {K::Plain, "3"},
                            {K::Plain, "7"}});
  EXPECT_TRUE(read.refusals().empty());
  // pb 16 8192 is EF 00 40; pc keeps the absent second byte, as parsed ones do.
  EXPECT_EQ(valuesOf(read),
            "9452644 16318462 11536255 12649982 15663168 126,127,6,1 1 8403968 8469504 "
            "12517696 12716030 ");
}

TEST_F(SyxFile, AFileIsReadWholeAcrossItsListsAndRefusedPastTheMostMessagesOneSendTakes) {
  using K = SendArguments::Kind;
  // A program change puts the notes off the lists' ends: none may be cut.
  const auto write = [this](size_t notes) {
    std::ofstream file(path_, std::ios::binary);
    file << std::string("\xC0\x05", 2);
    for (size_t i = 0; i < notes; ++i) file << std::string("\x90\x3C\x64", 3);
  };
  write(SendArguments::kMaxMessages - 1);
  const SendArguments most({{K::File, path_}});
  EXPECT_TRUE(most.refusals().empty());
  EXPECT_EQ(most.messages().size(), SendArguments::kMaxMessages);
  EXPECT_EQ(most.messages().back(), Value::number(9452644));
  write(SendArguments::kMaxMessages);
  const SendArguments tooMany({{K::File, path_}});
  EXPECT_EQ(tooMany.refusals(),
            std::vector<std::string>{"\"--file " + path_ +
                                     "\": holds more than the 1000000 messages one send takes"});
}

TEST_F(SyxFile, SendsEverythingGivenAndCountsTheMessages) {
  const ProgramRun run = runSend(
      {"on", "1", "60", "100", "--hex", "90 3C 00", "--file", path_, "--dest", "loop", "9452644"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(
      run.err,
      "wexmidi send: sent 5 messages to wexmidi Loopback, inside this program: nothing outside "
      "it hears them\n");
}

TEST(Send, NamesEveryRefusedArgumentWithItsReasonAndSendsNothing) {
  SystemLog::Capture sysexLog;
  const ProgramRun run = runSend({"on",      "17",
                                  "60",      "100",
                                  "9452644", "--hex",
                                  "9Z",      "--hex",
                                  "3C 64",   "--hex",
                                  "90 3C",   "--hex",
                                  "F0 01",   "pb",
                                  "1",       "16384",
                                  "pc",      "1",
                                  "1.5",     "1,200",
                                  "--file",  "/nonexistent/x.syx",
                                  "--file",  "/",
                                  "--file",  "/dev/zero",
                                  "cc",      "1",
                                  "7"});
  EXPECT_EQ(run.status, 2);
  for (const char* refusal :
       {"\"on 17 60 100\": the channel \"17\" is not 1 to 16\n",
        "\"--hex 9Z\": \"9Z\" is not a hex byte", "\"--hex 3C 64\": starts with a data byte",
        "\"--hex 90 3C\": a message lacks data bytes", "\"--hex F0 01\": ends inside a sysex",
        "\"pb 1 16384\": the bend \"16384\" is not 0 to 16383",
        "\"pc 1 1.5\": the program \"1.5\" is not 0 to 127",
        "\"1,200\" yields no message: sysex byte 200 is above 127",
        "\"--file /nonexistent/x.syx\": cannot read the file: No such file or directory",
        "\"--file /\": is a directory, not a file",
        "\"--file /dev/zero\": the file is larger than 64 MiB",
        "\"cc 1 7\": takes 3 numbers: cc CHANNEL controller value",
        "wexmidi send: nothing was sent\n"}) {
    EXPECT_NE(run.err.find(refusal), std::string::npos) << refusal << "\n" << run.err;
  }
  EXPECT_EQ(run.err.find("sent 1"), std::string::npos);
}

TEST(Send, WithoutAnythingToSendIsAUsageError) {
  EXPECT_EQ(runSend({}).status, 2);
  EXPECT_EQ(runSend({"--dest", "loop"}).status, 2);
}

}  // namespace
}  // namespace wex
