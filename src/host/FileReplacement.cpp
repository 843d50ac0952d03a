#include "host/FileReplacement.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <vector>

namespace wex {

namespace {

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

// The new file, first unnamed, then under a temporary name beside the
// target until it is renamed over it.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string directory) : directory_(std::move(directory)) {}
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!name_.empty()) ::unlink(name_.c_str());
  }

  bool create(const std::string& base) {
    fd_ = ::open(directory_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      unnamed_ = true;
      return true;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
    std::string pattern = directory_ + "/." + base + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    fd_ = ::mkostemp(buffer.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    name_ = buffer.data();
    return true;
  }

  int fd() const { return fd_; }

  // Gives the unnamed file a name beside the target, then renames it over
  // the target.
  bool moveTo(const std::string& target, const std::string& base) {
    if (unnamed_) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      while (true) {
        const std::string name = directory_ + "/." + base + "." + randomSuffix();
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
  const std::string base = baseOf(target);

  struct stat old {};
  const bool replacing = ::stat(target.c_str(), &old) == 0;
  if (replacing && S_ISDIR(old.st_mode)) return failed(EISDIR);

  IgnoreFileSizeSignal ignoreFileSize;
  TemporaryFile file(directory);
  if (!file.create(base)) return failed(errno);
  if (replacing) {
    // Only the superuser may give a file away; others keep their own. The
    // mode comes after: a change of owner clears set-id bits.
    if (::fchown(file.fd(), old.st_uid, old.st_gid) != 0 && errno != EPERM) return failed(errno);
    if (::fchmod(file.fd(), old.st_mode & 07777) != 0) return failed(errno);
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(file.fd(), 0666 & ~mask) != 0) return failed(errno);
  }
  if (!writeAll(file.fd(), contents) || ::fsync(file.fd()) != 0) return failed(errno);
  if (!file.moveTo(target, base)) return failed(errno);
  const int directoryFd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (directoryFd >= 0) {
    ::fsync(directoryFd);
    ::close(directoryFd);
  }
  return true;
}

}  // namespace wex
