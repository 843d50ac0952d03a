#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <sstream>
#include <vector>

#include "host/FileReplacement.h"

// This test program's fsync stands in front of the C library's, and counts
// what was synced: files and folders.
namespace {
std::atomic<int> syncedFiles{0};
std::atomic<int> syncedFolders{0};
}  // namespace

extern "C" int fsync(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) == 0) ++(S_ISDIR(status.st_mode) ? syncedFolders : syncedFiles);
  return static_cast<int>(::syscall(SYS_fsync, fd));
}

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

TEST_F(FileReplacementTest, TheNewContentsAndTheFolderAreOnDiskBeforeTheSaveReturns) {
  syncedFiles = syncedFolders = 0;
  std::string reason;
  ASSERT_TRUE(FileReplacement::replace(path("c.json"), "new", &reason)) << reason;
  EXPECT_EQ(syncedFiles.load(), 1);
  EXPECT_EQ(syncedFolders.load(), 1);
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
  // A pipe (as a device would be) stays what it is, also through a link.
  ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
  fs::create_symlink("pipe", directory_ / "to-pipe");
  for (const auto& file : {path("pipe"), path("to-pipe")}) {
    std::string reason;
    EXPECT_FALSE(FileReplacement::replace(file, "new", &reason)) << file;
    EXPECT_EQ(reason, "not a regular file") << file;
  }
  EXPECT_TRUE(fs::is_fifo(directory_ / "pipe"));
  fs::remove(directory_ / "pipe");
  fs::remove(directory_ / "to-pipe");
  fs::create_symlink("loop", directory_ / "loop");
  std::string reason;
  EXPECT_FALSE(FileReplacement::replace(path("loop"), "new", &reason));
  EXPECT_EQ(reason, "Too many levels of symbolic links");
  EXPECT_EQ(entries(), 1u);
  // Saving into a working folder that has been removed.
  const fs::path working = fs::current_path();
  fs::create_directory(directory_ / "gone");
  fs::current_path(directory_ / "gone");
  fs::remove(directory_ / "gone");
  EXPECT_FALSE(FileReplacement::replace("c.json", "new", &reason));
  fs::current_path(working);
  EXPECT_EQ(reason, "its folder has been removed");
}

// Saves by a user who owns neither the file nor the folder but belongs to
// the file's group: a group-writable file stays in its group, a read-only one
// is refused and stays as it was.
TEST_F(FileReplacementTest, AnotherUserKeepsTheGroupAndMayNotReplaceAReadOnlyFile) {
  if (::geteuid() != 0) GTEST_SKIP() << "acting as another user needs the superuser";
  constexpr uid_t kUser = 65534;
  constexpr gid_t kUserGroup = 65534;
  constexpr gid_t kSharedGroup = 100;
  fs::permissions(directory_, fs::perms::all);
  for (const auto& [name, mode] : {std::pair{"shared.json", 0664}, {"read-only.json", 0444}}) {
    write(path(name), "old");
    ASSERT_EQ(::chown(path(name).c_str(), 0, kSharedGroup), 0);
    ASSERT_EQ(::chmod(path(name).c_str(), static_cast<mode_t>(mode)), 0);
  }

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgroups(1, &kSharedGroup) != 0 || ::setgid(kUserGroup) != 0 || ::setuid(kUser) != 0) {
      ::_exit(10);
    }
    std::string reason;
    if (!FileReplacement::replace(path("shared.json"), "new", &reason)) ::_exit(11);
    if (FileReplacement::replace(path("read-only.json"), "new", &reason)) ::_exit(12);
    ::_exit(reason == "Permission denied" ? 0 : 13);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_EQ(WEXITSTATUS(status), 0) << "10 setup, 11 refused, 12 replaced, 13 another reason";
  struct stat shared {};
  ASSERT_EQ(::stat(path("shared.json").c_str(), &shared), 0);
  EXPECT_EQ(read(path("shared.json")), "new");
  EXPECT_EQ(shared.st_uid, kUser);
  EXPECT_EQ(shared.st_gid, kSharedGroup);
  EXPECT_EQ(shared.st_mode & 07777, 0664u);
  EXPECT_EQ(read(path("read-only.json")), "old");
}

TEST_F(FileReplacementTest, AFileWithTheLongestNameAFolderAllowsIsReplaced) {
  const std::string file = path(std::string(255, 'n'));
  write(file, "old");
  for (const bool unnamed : {true, false}) {
    FileReplacement::setUnnamedFilesAllowed(unnamed);
    std::string reason;
    EXPECT_TRUE(FileReplacement::replace(file, "new", &reason)) << reason;
  }
  FileReplacement::setUnnamedFilesAllowed(true);
  EXPECT_EQ(read(file), "new");
  EXPECT_EQ(entries(), 1u);
}

TEST_F(FileReplacementTest, LeftoversOfKilledSavesAreRemovedByTheNextSaveAndNothingElseIs) {
  const std::string file = path("c.json");
  write(file, "old");
  const std::string prefix = FileReplacement::temporaryPrefix("c.json");
  write(path(prefix + "Ab12Cd"), "killed save");
  write(path(prefix + "x9Y8z7w6V5u4"), "killed save");
  // Kept: a save in progress (it holds the lock), names that are not ours, a
  // symbolic link and a folder with our name.
  const std::string inProgress = path(prefix + "Live00");
  write(inProgress, "a save under way");
  const int lock = ::open(inProgress.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  const std::vector<std::string> kept = {prefix + "Live00",
                                         ".c.json.swp",
                                         prefix + "abc",
                                         prefix + "abc-def",
                                         ".d.json.wexmidi-save-Ab12Cd",
                                         prefix + "Link00",
                                         prefix + "Fold00",
                                         "victim"};
  for (const auto& name : {std::string(".c.json.swp"), prefix + "abc", prefix + "abc-def",
                           std::string(".d.json.wexmidi-save-Ab12Cd"), std::string("victim")}) {
    write(path(name), "keep");
  }
  fs::create_symlink("victim", directory_ / (prefix + "Link00"));
  fs::create_directory(directory_ / (prefix + "Fold00"));

  std::string reason;
  ASSERT_TRUE(FileReplacement::replace(file, "new", &reason)) << reason;
  ::close(lock);
  EXPECT_EQ(read(file), "new");
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory_)) {
    names.insert(entry.path().filename().string());
  }
  std::set<std::string> expected(kept.begin(), kept.end());
  expected.insert("c.json");
  EXPECT_EQ(names, expected);
  EXPECT_EQ(read(path("victim")), "keep");
}

// Saves killed at random moments, on both ways of writing the new file: the
// file is always the old or the new contents whole, and what a killed save
// leaves is gone after the next one.
TEST_F(FileReplacementTest, KilledSavesLeaveTheOldOrTheNewFileWholeAndNoTemporaryFileForLong) {
  const std::string file = path("c.json");
  const std::string old = "old contents";
  const std::string first(2 << 20, 'a'), second(3 << 20, 'b');
  std::mt19937 random(12345);
  for (const bool unnamed : {true, false}) {
    write(file, old);
    size_t leftovers = 0;
    for (int kill = 0; kill < 15; ++kill) {
      const pid_t child = ::fork();
      if (child == 0) {
        FileReplacement::setUnnamedFilesAllowed(unnamed);
        std::string reason;
        for (int i = 0;; ++i) FileReplacement::replace(file, i % 2 ? second : first, &reason);
      }
      ::usleep(std::uniform_int_distribution<useconds_t>(1000, 40000)(random));
      ::kill(child, SIGKILL);
      int status = 0;
      ASSERT_EQ(::waitpid(child, &status, 0), child);
      const std::string now = read(file);
      EXPECT_TRUE(now == old || now == first || now == second)
          << (unnamed ? "unnamed" : "named") << ": " << now.size() << " bytes";
      leftovers += entries() - 1;
    }
    std::string reason;
    FileReplacement::setUnnamedFilesAllowed(unnamed);
    ASSERT_TRUE(FileReplacement::replace(file, old, &reason)) << reason;
    FileReplacement::setUnnamedFilesAllowed(true);
    EXPECT_EQ(entries(), 1u) << (unnamed ? "unnamed" : "named") << ": " << leftovers
                             << " leftovers seen between kills";
    EXPECT_EQ(read(file), old);
  }
}

}  // namespace
}  // namespace wex
