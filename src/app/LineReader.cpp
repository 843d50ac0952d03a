#include "app/LineReader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>

namespace wex {

LineReader::~LineReader() {
  stop();
}

void LineReader::start(std::istream& in) {
  stopping_ = false;
  if (&in == &std::cin) {
    thread_ = std::thread([this] { readStandardInput(); });
  } else {
    thread_ = std::thread([this, &in] { readStream(in); });
  }
}

void LineReader::stop() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  taken_.notify_all();
  if (thread_.joinable()) thread_.join();
}

std::optional<std::string> LineReader::next() {
  std::lock_guard lock(mutex_);
  if (lines_.empty()) return std::nullopt;
  std::string line = std::move(lines_.front());
  lines_.pop_front();
  queuedBytes_ -= cost(line);
  taken_.notify_all();
  return line;
}

void LineReader::push(std::string line) {
  if (dropping_) {
    // The end of a line cut short before: nothing to deliver.
    dropping_ = false;
    return;
  }
  if (line.size() > kMaxLineLength) line.resize(kMaxLineLength + 1);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::unique_lock lock(mutex_);
  taken_.wait(lock, [this] { return queuedBytes_ < kMaxQueuedBytes || stopping_; });
  queuedBytes_ += cost(line);
  lines_.push_back(std::move(line));
}

void LineReader::readStandardInput() {
  std::string pending;
  char buffer[4096];
  while (!stopping_) {
    pollfd descriptor{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&descriptor, 1, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return;
    if (ready == 0) continue;
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) break;  // closed: nothing more will come
    pending.append(buffer, static_cast<size_t>(count));
    size_t begin = 0;
    size_t end;
    while ((end = pending.find('\n', begin)) != std::string::npos) {
      push(pending.substr(begin, end - begin));
      begin = end + 1;
    }
    pending.erase(0, begin);
    if (pending.size() > kMaxLineLength) {
      if (!dropping_) push(pending.substr(0, kMaxLineLength + 1));
      pending.clear();
      dropping_ = true;
    }
  }
  if (!pending.empty()) push(pending);
}

void LineReader::readStream(std::istream& in) {
  std::string line;
  while (!stopping_ && std::getline(in, line)) push(line);
}

}  // namespace wex
