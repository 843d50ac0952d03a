#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/FileReplacement.h"
#include "shared/TestPaths.h"

namespace wex {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

const std::string kExample =
    std::string(::wex::test::kSourceDir) + "/examples/composer.wexcomp.json";
const std::string kProgram = ::wex::test::kProgramPath;
// Set in the copy of this test program that runs in a private mount namespace.
const char* const kInsideVariable = "WEX_TEST_IN_PRIVATE_MOUNTS";

std::string readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> namesIn(const fs::path& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// A shell command with its standard input from `input`.
Outcome runShell(const std::string& command, const std::string& input, const fs::path& scratch) {
  const std::string in = (scratch / "in.txt").string();
  const std::string out = (scratch / "out.txt").string();
  const std::string err = (scratch / "err.txt").string();
  writeFile(in, input);
  const int raw = std::system((command + " <" + in + " >" + out + " 2>" + err).c_str());
  return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile(out), readFile(err)};
}

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = (fs::temp_directory_path() / "wexmidi-saving-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data()) ? pattern : "";
  }
  ~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// --- A full disk and a read-only place, in a private mount namespace -------

// Mounts a small tmpfs at `folder` with `original` in it as c.json, then
// either fills it up or makes it read-only. False with the reason when
// mounting is not permitted here.
bool preparePlace(const fs::path& folder, bool full, const std::string& original,
                  std::string* reason) {
  fs::create_directories(folder);
  if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0) {
    *reason = std::string("mounting a tmpfs: ") + std::strerror(errno);
    return false;
  }
  writeFile((folder / "c.json").string(), original);
  if (!full) {
    if (::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
      *reason = std::string("remounting read-only: ") + std::strerror(errno);
      return false;
    }
    return true;
  }
  const int filler = ::open((folder / "filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  const std::string block(4096, 'f');
  while (::write(filler, block.data(), block.size()) > 0) {
  }
  while (::write(filler, block.data(), 1) > 0) {
  }
  ::close(filler);
  return true;
}

struct SavePath {
  const char* name;
  // The command, given the file to save to; it saves a changed composition.
  std::string (*command)(const std::string& target);
  std::string input;
  // What the error line starts with.
  const char* errorPrefix;
  bool failsTheProgram;
};

const SavePath kSavePaths[] = {
    {"run --save",
     [](const std::string& target) {
       return kProgram + " --midi embedded run " + kExample +
              " --for 0.2 --set note.inputData2=77 --save " + target;
     },
     "", "wexmidi run: ", true},
    {"a save line on run's standard input",
     [](const std::string&) {
       return kProgram + " --midi embedded run " + kExample + " --for 0.5 --set note.inputData2=77";
     },
     "", "wexmidi run: standard input line 1: ", false},
    {"a panel edit",
     [](const std::string& target) {
       return kProgram + " --midi embedded panel " + target + " group --set numberOfMessages=5";
     },
     "", "wexmidi panel: ", true},
    {"a save line on serve's standard input",
     [](const std::string& target) {
       return kProgram + " --midi embedded serve " + target +
              " --listen 127.0.0.1:0 --for 0.5 --set note.inputData2=77";
     },
     "{\"save\": true}\n", "wexmidi serve: standard input line 1: ", false},
};

void checkEverySavePath(const fs::path& folder, const std::string& reason,
                        const fs::path& scratch) {
  const std::string target = (folder / "c.json").string();
  const std::string original = readFile(target);
  const std::set<std::string> before = namesIn(folder);
  for (const SavePath& save : kSavePaths) {
    SCOPED_TRACE(std::string(save.name) + " into a place with \"" + reason + "\"");
    std::string input = save.input;
    if (input.empty() &&
        std::string(save.errorPrefix).find("standard input") != std::string::npos) {
      input = "{\"save\": \"" + target + "\"}\n";
    }
    const Outcome outcome = runShell(save.command(target), input, scratch);
    EXPECT_EQ(outcome.status, save.failsTheProgram ? 1 : 0) << outcome.err;
    const std::string expected =
        std::string(save.errorPrefix) + target + ": cannot write the file: " + reason + "\n";
    EXPECT_NE(outcome.err.find(expected), std::string::npos) << outcome.err;
    EXPECT_EQ(outcome.out.find("\"saved\""), std::string::npos) << outcome.out;
    EXPECT_EQ(readFile(target), original);
    EXPECT_EQ(namesIn(folder), before);
  }
  for (const bool unnamed : {true, false}) {
    FileReplacement::setUnnamedFilesAllowed(unnamed);
    std::string why;
    EXPECT_FALSE(FileReplacement::replace(target, "new contents", &why));
    EXPECT_EQ(why, reason) << (unnamed ? "unnamed" : "named") << " temporary file";
    EXPECT_EQ(readFile(target), original);
    EXPECT_EQ(namesIn(folder), before);
  }
  FileReplacement::setUnnamedFilesAllowed(true);
}

// The part that runs inside the namespace, as root there.
void checkFullAndReadOnlyPlaces() {
  TemporaryFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string original = readFile(kExample);
  const fs::path full = scratch.path() / "full";
  const fs::path readOnly = scratch.path() / "readonly";
  std::string reason;
  if (!preparePlace(full, true, original, &reason) ||
      !preparePlace(readOnly, false, original, &reason)) {
    GTEST_SKIP() << reason;
  }
  checkEverySavePath(full, "No space left on device", scratch.path());
  checkEverySavePath(readOnly, "Read-only file system", scratch.path());
  ::umount2(full.c_str(), MNT_DETACH);
  ::umount2(readOnly.c_str(), MNT_DETACH);
}

std::string thisProgram() {
  std::vector<char> buffer(4096);
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  return length > 0 ? std::string(buffer.data(), static_cast<size_t>(length)) : "";
}

// Mounting needs a namespace of its own; this test runs again in one (as
// root, or as root of a user namespace for others) and reports what it found.
TEST(SavingUnderHardConditionsTest, AFullDiskAndAReadOnlyPlaceRefuseEverySaveAndKeepTheOldFile) {
  if (std::getenv(kInsideVariable)) {
    checkFullAndReadOnlyPlaces();
    return;
  }
  TemporaryFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  std::string namespaceOptions;
  std::string refusals;
  for (const std::string options :
       {"--mount --propagation private", "--user --map-root-user --mount --propagation private"}) {
    const Outcome probe = runShell("unshare " + options + " true", "", scratch.path());
    if (probe.status == 0) {
      namespaceOptions = options;
      break;
    }
    refusals += "unshare " + options + ": " + probe.err;
  }
  if (namespaceOptions.empty()) {
    GTEST_SKIP() << "no private mount namespace can be made here:\n" << refusals;
  }
  const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
  const Outcome inside = runShell(std::string(kInsideVariable) + "=1 unshare " + namespaceOptions +
                                      " " + thisProgram() + " --gtest_filter='*." + test + "'",
                                  "", scratch.path());
  if (inside.out.find("[  SKIPPED ]") != std::string::npos) {
    GTEST_SKIP() << "inside a private mount namespace:\n" << inside.out;
  }
  EXPECT_EQ(inside.status, 0) << inside.out << inside.err;
  EXPECT_NE(inside.out.find("[  PASSED  ] 1 test"), std::string::npos) << inside.out;
}

// --- Killed saves ----------------------------------------------------------

// A composition big enough that each save takes a while.
std::string bigComposition(int patches) {
  Json list = Json::array();
  for (int i = 0; i < patches; ++i) {
    list.push_back({{"id", "p" + std::to_string(i)},
                    {"class", "MIDI_MessagePlugIn"},
                    {"inputs", {{"inputMessageType", 1}, {"inputData1", i % 128}}}});
  }
  return Json{{"format", "wexmidi composition"},
              {"version", 1},
              {"patches", list},
              {"connections", Json::array()}}
      .dump(1);
}

pid_t startProgram(const std::vector<std::string>& args, const std::string& in,
                   const std::string& out) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  const int input = ::open(in.c_str(), O_RDONLY);
  const int output = ::open(out.c_str(), O_WRONLY | O_CREAT, 0644);
  const int nothing = ::open("/dev/null", O_WRONLY);
  ::dup2(input, 0);
  ::dup2(output, 1);
  ::dup2(nothing, 2);
  std::vector<char*> argv;
  for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  ::execv(argv[0], argv.data());
  ::_exit(127);
}

TEST(SavingUnderHardConditionsTest, KilledSavesLeaveTheOldOrANewFileWholeAndNothingBeside) {
  constexpr int kPatches = 3000;
  TemporaryFolder scratch;
  ASSERT_FALSE(scratch.path().empty());
  const std::string source = (scratch.path() / "big.json").string();
  writeFile(source, bigComposition(kPatches));
  const fs::path folder = scratch.path() / "saved";
  fs::create_directories(folder);
  const std::string target = (folder / "c.json").string();
  const std::string old = "{\"the old file\": true}\n";
  writeFile(target, old);

  // Each save differs from the one before: a value changes between them.
  std::string input;
  for (int i = 0; i < 400; ++i) {
    input += "{\"set\": \"p0.inputData2\", \"value\": " + std::to_string(i % 128) + "}\n";
    input += "{\"save\": \"" + target + "\"}\n";
  }
  const std::string in = (scratch.path() / "in.txt").string();
  const std::string out = (scratch.path() / "out.txt").string();
  writeFile(in, input);

  std::mt19937 random(2024);
  int killedWhileSaving = 0;
  int leftovers = 0;
  for (int round = 0; round < 30; ++round) {
    writeFile(out, "");
    const pid_t child =
        startProgram({kProgram, "--midi", "embedded", "run", source, "--rate", "1"}, in, out);
    // Once the first save is done, the rest follow one after the other (a
    // sanitizer build may take long to load the composition).
    for (int wait = 0; wait < 30000 && readFile(out).find("\"saved\"") == std::string::npos;
         ++wait) {
      ::usleep(2000);
    }
    ::usleep(std::uniform_int_distribution<useconds_t>(0, 60000)(random));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the program ended before it was killed";
    killedWhileSaving += readFile(out).find("\"saved\"") != std::string::npos;

    const std::string now = readFile(target);
    if (now != old) {
      const Json saved = Json::parse(now, nullptr, false);
      ASSERT_FALSE(saved.is_discarded()) << "round " << round << ": a garbled file";
      EXPECT_EQ(saved["patches"].size(), static_cast<size_t>(kPatches)) << "round " << round;
    }
    // A kill between naming the new file and renaming it leaves it; the
    // next save of the file removes it.
    for (const auto& name : namesIn(folder)) {
      if (name == "c.json") continue;
      EXPECT_EQ(name.rfind(FileReplacement::temporaryPrefix("c.json"), 0), 0u) << name;
      ++leftovers;
    }
  }
  EXPECT_GT(killedWhileSaving, 20) << "too few kills came while saving";
  const Outcome last =
      runShell(kProgram + " --midi embedded run " + source + " --for 0.1 --save " + target, "",
               scratch.path());
  ASSERT_EQ(last.status, 0) << last.err;
  EXPECT_EQ(namesIn(folder), std::set<std::string>{"c.json"})
      << leftovers << " temporary files were seen after kills";
}

}  // namespace
}  // namespace wex
