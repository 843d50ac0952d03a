#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <istream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace wex {

// Reads lines from a stream on a thread of its own, so that a command can
// take them between other work. For the process's standard input it polls
// the descriptor, so that stop() never waits for a line that may not come.
// End of input simply ends the reading.
class LineReader {
 public:
  // A longer line is delivered cut to one byte more than this, so that its
  // reader can tell, and the rest of it is dropped as it comes.
  static constexpr size_t kMaxLineLength = 1024 * 1024;
  // Lines read but not yet taken, at most (a line more may come): past it
  // reading waits, so that input flowing faster than it is used does not
  // fill memory.
  static constexpr size_t kMaxQueuedBytes = 4 * kMaxLineLength;
  // What a queued line costs beyond its characters (the string and its
  // place in the queue): an empty line is not free, so that a flood of
  // blank lines is held to the same bound.
  static constexpr size_t kLineBookkeeping = sizeof(std::string) + 32;

  LineReader() = default;
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  void start(std::istream& in);
  void stop();
  // The next line read, if any (never blocks).
  std::optional<std::string> next();

 private:
  void readStandardInput();
  void readStream(std::istream& in);
  void push(std::string line);
  static size_t cost(const std::string& line) { return line.size() + kLineBookkeeping; }
  bool dropping_ = false;  // the rest of a line too long

  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::condition_variable taken_;
  std::deque<std::string> lines_;
  size_t queuedBytes_ = 0;
};

}  // namespace wex
