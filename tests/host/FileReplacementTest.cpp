#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "host/FileReplacement.h"

namespace wex {
namespace {

namespace fs = std::filesystem;

class FileReplacementTest : public ::testing::Test {
 protected:
  FileReplacementTest() {
    directory_ = fs::temp_directory_path() / ("wexmidi-replace-" + std::to_string(::getpid()));
    fs::create_directories(directory_);
  }
  ~FileReplacementTest() override { fs::remove_all(directory_); }

  std::string path(const std::string& name) const { return (directory_ / name).string(); }

  static std::string read(const std::string& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  static void write(const std::string& file, const std::string& text) {
    std::ofstream(file) << text;
  }

  size_t entries() const {
    return static_cast<size_t>(std::distance(fs::directory_iterator(directory_), {}));
  }

  fs::path directory_;
};

TEST_F(FileReplacementTest, TheReplacedFileKeepsItsModeAndOwnerAndNothingIsLeftBeside) {
  const std::string file = path("c.json");
  write(file, "old");
  ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(file.c_str(), 12345, 23456), 0);
  }
  std::string reason;
  ASSERT_TRUE(FileReplacement::replace(file, "new", &reason)) << reason;
  struct stat status {};
  ASSERT_EQ(::stat(file.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
  if (root) {
    EXPECT_EQ(status.st_uid, 12345u);
    EXPECT_EQ(status.st_gid, 23456u);
  }
  EXPECT_EQ(read(file), "new");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FileReplacementTest, ASymbolicLinkStaysAndItsTargetIsReplaced) {
  fs::create_directories(directory_ / "real");
  write(path("real/c.json"), "old");
  fs::create_symlink("real/c.json", directory_ / "link1");
  fs::create_symlink(path("link1"), directory_ / "link2");
  std::string reason;
  ASSERT_TRUE(FileReplacement::replace(path("link2"), "new", &reason)) << reason;
  EXPECT_TRUE(fs::is_symlink(directory_ / "link2"));
  EXPECT_TRUE(fs::is_symlink(directory_ / "link1"));
  EXPECT_EQ(read(path("real/c.json")), "new");
  EXPECT_EQ(entries(), 3u);
  EXPECT_EQ(static_cast<size_t>(std::distance(fs::directory_iterator(directory_ / "real"), {})),
            1u);
}

TEST_F(FileReplacementTest, AFileSizeLimitIsOneErrorAndTheOldFileStaysWhole) {
  const std::string file = path("c.json");
  write(file, "old");
  const pid_t child = ::fork();
  if (child == 0) {
    const rlimit limit{100, 100};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::string reason;
    const bool replaced = FileReplacement::replace(file, std::string(1000, 'x'), &reason);
    ::_exit(!replaced && reason == "File too large" ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "the size limit's signal ended the program";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(read(file), "old");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FileReplacementTest, PlacesThatCannotBeWrittenAreRefusedWithTheirReason) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "No such file or directory"},
      {directory_.string(), "Is a directory"},
      {path("absent/c.json"), "No such file or directory"},
  };
  for (const auto& [file, expected] : cases) {
    std::string reason;
    EXPECT_FALSE(FileReplacement::replace(file, "new", &reason)) << file;
    EXPECT_EQ(reason, expected) << file;
  }
  fs::create_symlink("loop", directory_ / "loop");
  std::string reason;
  EXPECT_FALSE(FileReplacement::replace(path("loop"), "new", &reason));
  EXPECT_EQ(reason, "Too many levels of symbolic links");
  EXPECT_EQ(entries(), 1u);
}

}  // namespace
}  // namespace wex
