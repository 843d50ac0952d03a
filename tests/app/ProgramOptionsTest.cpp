#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "app/WexmidiProgram.h"
#include "shared/ProgramRun.h"
#include "shared/TestPaths.h"

namespace wex {
namespace {

using test::ProgramRun;
using test::runInProcess;

const std::string kExamples = std::string(::wex::test::kSourceDir) + "/examples/";

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A shell pipeline with the built program as WEXMIDI; its standard output
// and the exit statuses of the pipeline's commands (PIPESTATUS) come back.
struct PipelineRun {
  std::string out;
  std::string statuses;
  double seconds = 0;
};

PipelineRun runPipeline(const std::string& pipeline) {
  const auto directory = std::filesystem::temp_directory_path();
  const auto out = directory / ("wexmidi-pipe-" + std::to_string(::getpid()) + ".txt");
  const std::string script = "WEXMIDI=" + std::string(::wex::test::kProgramPath) + "; " + pipeline +
                             " >" + out.string() + "; echo \"${PIPESTATUS[@]}\" >" + out.string() +
                             ".status";
  const std::string command = "bash -c '" + script + "' </dev/null";
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
  PipelineRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.out = readFile(out);
  run.statuses = readFile(out.string() + ".status");
  std::filesystem::remove(out);
  std::filesystem::remove(out.string() + ".status");
  return run;
}

TEST(ProgramOptions, GlobalOptionsAreTakenBeforeAndAfterTheSubcommand) {
  const ProgramRun before = runInProcess({"--name", "rig", "--midi", "embedded", "list", "--json"});
  const ProgramRun after = runInProcess({"list", "--midi", "embedded", "--name", "rig", "--json"});
  ASSERT_EQ(before.status, 0) << before.err;
  ASSERT_EQ(after.status, 0) << after.err;
  EXPECT_NE(before.out.find("\"name\":\"wexmidi Loopback\""), std::string::npos);
  EXPECT_NE(after.out.find("\"name\":\"wexmidi Loopback\""), std::string::npos);
  EXPECT_EQ(runInProcess({"list", "--midi", "sequencer"}).status, 2);
  // A client name JACK or ALSA would refuse or garble is a usage error.
  for (const std::string& bad : std::vector<std::string>{"", "a:b", std::string(64, 'n')}) {
    EXPECT_EQ(runInProcess({"--midi", "embedded", "--name", bad, "list"}).status, 2) << bad;
  }
}

TEST(ProgramOptions, UnknownSubcommandNamesItselfAndListsTheSubcommands) {
  const ProgramRun run = runInProcess({"--midi", "embedded", "moniter", "--for", "1"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("\"moniter\" is not a subcommand"), std::string::npos) << run.err;
  for (const char* name : {"decode", "encode", "list", "monitor", "send", "run", "panel"}) {
    EXPECT_NE(run.err.find(name), std::string::npos) << name;
  }
}

TEST(ProgramOptions, VersionPrintsTheProjectVersion) {
  const ProgramRun run = runInProcess({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(std::regex_search(run.out, std::regex("^wexmidi [0-9]+\\.[0-9]+\\.[0-9]+")))
      << run.out;
  EXPECT_EQ(run.out, WexmidiProgram::versionText() + "\n");
}

TEST(ProgramOutput, WatchedMessageNumbersPrintAsIntegers) {
  const PipelineRun run =
      runPipeline("$WEXMIDI --midi embedded run " + kExamples +
                  "composer.wexcomp.json --for 0.5 --watch group.outputMessages");
  EXPECT_NE(run.out.find("\"value\":[9452644,11601791,11609983]"), std::string::npos) << run.out;
}

TEST(ProgramOutput, PanelOfAPatchThatSavesNoChoicesRefusesTheEditAndLeavesTheFile) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("wexmidi-receiver-" + std::to_string(::getpid()) + ".json");
  std::filesystem::copy_file(kExamples + "distributors.wexcomp.json", file,
                             std::filesystem::copy_options::overwrite_existing);
  const std::string before = readFile(file);
  const ProgramRun run =
      runInProcess({"--midi", "embedded", "panel", file.string(), "rx", "--untick", "0"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("saves no settings"), std::string::npos) << run.err;
  EXPECT_EQ(readFile(file), before);
  // Showing the panel, without an edit, is still fine.
  EXPECT_EQ(runInProcess({"--midi", "embedded", "panel", file.string(), "rx"}).status, 0);
  std::filesystem::remove(file);
}

TEST(ProgramOutput, AClosedStandardOutputEndsARunAtOnceWithStatusZero) {
  const PipelineRun run = runPipeline("$WEXMIDI --midi embedded run " + kExamples +
                                      "distributors.wexcomp.json --play " + kExamples +
                                      "distributors-demo.mid --for 30 --watch \"rx.*\" | head -1");
  EXPECT_EQ(run.statuses, "0 0\n");
  EXPECT_NE(run.out.find("rx.outputMessages"), std::string::npos) << run.out;
  EXPECT_LT(run.seconds, 20) << "the run went on after its reader had gone";
}

TEST(ProgramOutput, AClosedStandardOutputEndsDecodeAtOnceWithStatusZero) {
  // An endless input: decode must stop because its reader went.
  const PipelineRun run = runPipeline("yes \"90 3C 64\" | $WEXMIDI decode | head -1");
  EXPECT_EQ(run.statuses, "141 0 0\n");
  EXPECT_EQ(run.out, "9452644\tNoteOn, ch.0, note.60, val.100\n");
}

}  // namespace
}  // namespace wex

namespace wex {
namespace {

// The manual is written from the parser: every subcommand and every option
// that --help shows is in it.
TEST(ProgramManual, HoldsEverySubcommandAndOptionThatHelpShows) {
  const ProgramRun page = runInProcess({"--print-man-page"});
  ASSERT_EQ(page.status, 0);
  const ProgramRun completion = runInProcess({"--print-bash-completion"});
  ASSERT_EQ(completion.status, 0);
  for (const char* subcommand :
       {"decode", "encode", "list", "monitor", "send", "patches", "run", "panel"}) {
    EXPECT_NE(page.out.find(std::string(".SH wexmidi ") + subcommand), std::string::npos)
        << subcommand;
    EXPECT_NE(completion.out.find(std::string(subcommand) + ") words="), std::string::npos);
    const ProgramRun help = runInProcess({subcommand, "--help"});
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);) {
      const size_t dashes = line.find("  --");
      if (dashes == std::string::npos || line.find("--help") != std::string::npos) continue;
      const std::string option =
          line.substr(dashes + 2, line.find_first_of(" ,", dashes + 2) - dashes - 2);
      std::string escaped;
      for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(page.out.find(".B " + escaped), std::string::npos) << subcommand << " " << option;
      EXPECT_NE(completion.out.find(" " + option), std::string::npos) << option;
    }
  }
}

}  // namespace
}  // namespace wex
