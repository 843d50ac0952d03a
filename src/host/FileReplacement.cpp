#include "host/FileReplacement.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <vector>

namespace wex {

namespace {

std::atomic<bool> unnamedFilesAllowed{true};

std::string directoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string randomSuffix() {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device source;
  std::string suffix;
  for (int i = 0; i < 12; ++i) suffix += kLetters[source() % (sizeof kLetters - 1)];
  return suffix;
}

bool isTemporaryName(const std::string& name, const std::string& prefix) {
  if (name.size() < prefix.size() + 6 || name.size() > prefix.size() + 12) return false;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (!std::isalnum(static_cast<unsigned char>(name[i]))) return false;
  }
  return true;
}

// Removes the temporary files of saves of this file that were killed before
// they could clean up. A save in progress holds a lock on its file, so only
// files no living save holds are removed, and only regular files of our name.
void removeLeftovers(const std::string& directory, const std::string& prefix) {
  DIR* folder = ::opendir(directory.c_str());
  if (!folder) return;
  const int folderFd = ::dirfd(folder);
  while (const dirent* entry = ::readdir(folder)) {
    const std::string name = entry->d_name;
    if (!isTemporaryName(name, prefix)) continue;
    const int fd =
        ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat opened {
    }, named{};
    if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(folderFd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
      ::unlinkat(folderFd, name.c_str(), 0);
    }
    ::close(fd);
  }
  ::closedir(folder);
}

// A write past RLIMIT_FSIZE must fail with EFBIG rather than end the program.
class IgnoreFileSizeSignal {
 public:
  IgnoreFileSizeSignal() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGXFSZ, &ignore, &previous_);
  }
  ~IgnoreFileSizeSignal() { sigaction(SIGXFSZ, &previous_, nullptr); }

 private:
  struct sigaction previous_ {};
};

bool writeAll(int fd, const std::string& contents) {
  size_t written = 0;
  while (written < contents.size()) {
    const ssize_t result = ::write(fd, contents.data() + written, contents.size() - written);
    if (result < 0 && errno == EINTR) continue;
    if (result < 0) return false;
    if (result == 0) {
      errno = EIO;
      return false;
    }
    written += static_cast<size_t>(result);
  }
  return true;
}

// Gives the new file the old one's owner and group. Only the superuser may
// give a file away; others keep the file their own, and in the old file's
// group where they belong to it, so that a file shared by a group stays so.
bool keepOwner(int fd, const struct stat& old) {
  if (::fchown(fd, old.st_uid, old.st_gid) == 0) return true;
  if (errno != EPERM) return false;
  return ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) == 0 || errno == EPERM;
}

// The new file, first unnamed, then under a temporary name beside the
// target until it is renamed over it.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string directory) : directory_(std::move(directory)) {}
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }

  // The file is locked from the start, so that other saves of the same file
  // do not take it for a leftover.
  bool create(const std::string& prefix) {
    if (unnamedFilesAllowed) {
      fd_ = ::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
      if (fd_ >= 0) {
        unnamed_ = true;
        return ::flock(fd_, LOCK_EX) == 0;
      }
      if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    }
    std::string pattern = directory_ + "/" + prefix + "XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    name_ = buffer.data();
    return ::flock(fd_, LOCK_EX) == 0;
  }

  int fd() const { return fd_; }

  // Gives the unnamed file a name beside the target, then renames it over
  // the target.
  bool moveTo(const std::string& target, const std::string& prefix) {
    if (unnamed_) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      while (true) {
        const std::string name = directory_ + "/" + prefix + randomSuffix();
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
          name_ = name;
          break;
        }
        if (errno != EEXIST) return false;
      }
    }
    if (::rename(name_.c_str(), target.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  std::string directory_;
  int fd_ = -1;
  bool unnamed_ = false;
  std::string name_;  // to remove unless renamed
};

}  // namespace

std::string FileReplacement::temporaryPrefix(const std::string& base) {
  // Short enough that the whole name fits in a folder entry (255 bytes).
  constexpr size_t kKeptOfBase = 200;
  return "." + base.substr(0, kKeptOfBase) + ".wexmidi-save-";
}

void FileReplacement::setUnnamedFilesAllowed(bool allowed) {
  unnamedFilesAllowed = allowed;
}

std::string FileReplacement::followLinks(const std::string& path, std::string* reason) {
  std::string current = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat status {};
    if (::lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
    std::vector<char> target(static_cast<size_t>(status.st_size > 0 ? status.st_size : 4096) + 1);
    const ssize_t length = ::readlink(current.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<size_t>(length) >= target.size()) {
      *reason = std::strerror(length < 0 ? errno : ENAMETOOLONG);
      return "";
    }
    const std::string link(target.data(), static_cast<size_t>(length));
    current = link.front() == '/' ? link : directoryOf(current) + "/" + link;
  }
  *reason = std::strerror(ELOOP);
  return "";
}

bool FileReplacement::replace(const std::string& path, const std::string& contents,
                              std::string* reason) {
  auto failed = [&](int error) {
    *reason = std::strerror(error);
    return false;
  };
  if (path.empty()) return failed(ENOENT);
  const std::string target = followLinks(path, reason);
  if (target.empty()) return false;
  const std::string directory = directoryOf(target);
  const std::string prefix = temporaryPrefix(baseOf(target));

  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;
  if (replacing && S_ISDIR(old.st_mode)) return failed(EISDIR);
  // A device, a pipe or a socket would be replaced by a plain file (as root,
  // even /dev/null): such a place is refused.
  if (replacing && !S_ISREG(old.st_mode)) {
    *reason = "not a regular file";
    return false;
  }
  // Renaming over a file needs only the folder's permission; a file its
  // saver may not write is not replaced either.
  if (replacing && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
    return failed(errno);
  }

  // A folder removed while it was the working one can still be named "."
  // but holds no new file; the system's own refusal says little.
  struct stat folder {};
  if (::stat(directory.c_str(), &folder) == 0 && folder.st_nlink == 0) {
    *reason = "its folder has been removed";
    return false;
  }

  IgnoreFileSizeSignal ignoreFileSize;
  removeLeftovers(directory, prefix);
  TemporaryFile file(directory);
  if (!file.create(prefix)) return failed(errno);
  if (replacing) {
    if (!keepOwner(file.fd(), old)) return failed(errno);
    // After the owner: a change of owner clears set-id bits.
    if (::fchmod(file.fd(), old.st_mode & 07777) != 0) return failed(errno);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.fd(), 0666 & ~mask) != 0) return failed(errno);
  }
  if (!writeAll(file.fd(), contents) || ::fsync(file.fd()) != 0) return failed(errno);
  if (!file.moveTo(target, prefix)) return failed(errno);
  const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd >= 0) {
    ::fsync(directoryFd);
    ::close(directoryFd);
  }
  return true;
}

}  // namespace wex
