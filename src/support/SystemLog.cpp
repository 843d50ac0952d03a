#include "support/SystemLog.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace wex {

namespace {
std::mutex gLogMutex;
SystemLog::Capture* gCapture = nullptr;
std::vector<SystemLog::Listener*> gListeners;
}  // namespace

void SystemLog::write(const std::string& line) {
  std::lock_guard lock(gLogMutex);
  for (Listener* listener : gListeners) listener->onLine_(line);
  if (gCapture) {
    gCapture->append(line);
    return;
  }
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

void SystemLog::writef(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string line(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(line.data(), line.size() + 1, format, args);
  va_end(args);
  write(line);
}

SystemLog::Capture::Capture() {
  std::lock_guard lock(gLogMutex);
  previous_ = gCapture;
  gCapture = this;
}

SystemLog::Capture::~Capture() {
  std::lock_guard lock(gLogMutex);
  if (gCapture == this) {
    gCapture = previous_;
    return;
  }
  for (Capture* c = gCapture; c; c = c->previous_) {
    if (c->previous_ == this) {
      c->previous_ = previous_;
      break;
    }
  }
}

SystemLog::Listener::Listener(std::function<void(const std::string& line)> onLine)
    : onLine_(std::move(onLine)) {
  std::lock_guard lock(gLogMutex);
  gListeners.push_back(this);
}

SystemLog::Listener::~Listener() {
  std::lock_guard lock(gLogMutex);
  std::erase(gListeners, this);
}

std::vector<std::string> SystemLog::Capture::lines() const {
  std::lock_guard lock(mutex_);
  return lines_;
}

void SystemLog::Capture::clear() {
  std::lock_guard lock(mutex_);
  lines_.clear();
}

void SystemLog::Capture::append(const std::string& line) {
  std::lock_guard lock(mutex_);
  lines_.push_back(line);
}

}  // namespace wex
