#include "support/LimitedFileReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace wex {

namespace {

class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

}  // namespace

bool LimitedFileReader::read(const std::string& path, std::string* contents, std::string* reason) {
  const std::string tooLarge =
      path + ": the file is larger than " + std::to_string(kMaxFileSize / (1024 * 1024)) + " MiB";
  const Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.fd() < 0) {
    *reason = path + ": cannot read the file: " + std::strerror(errno);
    return false;
  }
  struct stat status {};
  if (::fstat(file.fd(), &status) == 0) {
    if (S_ISDIR(status.st_mode)) {
      *reason = path + ": is a directory, not a file";
      return false;
    }
    if (S_ISREG(status.st_mode) && static_cast<uint64_t>(status.st_size) > kMaxFileSize) {
      *reason = tooLarge;
      return false;
    }
  }
  contents->clear();
  char buffer[65536];
  while (true) {
    const ssize_t count = ::read(file.fd(), buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) {
      *reason = path + ": cannot read the file: " + std::strerror(errno);
      return false;
    }
    if (count == 0) return true;
    if (contents->size() + static_cast<size_t>(count) > kMaxFileSize) {
      *reason = tooLarge;
      contents->clear();
      return false;
    }
    contents->append(buffer, static_cast<size_t>(count));
  }
}

}  // namespace wex
