#pragma once

#include <atomic>
#include <mutex>
#include <ostream>

#include "host/ValueJSON.h"

namespace wex {

// JSON lines on standard output. They come from the evaluation thread
// (watched outputs) and the main thread (answers to commands): one lock keeps
// them whole.
class JsonLineOutput {
 public:
  explicit JsonLineOutput(std::ostream& out) : out_(out) {}

  void line(const ValueJSON::Json& json);
  // Whether a write failed: nobody reads standard output any more.
  bool closed() const { return closed_; }

 private:
  std::mutex mutex_;
  std::ostream& out_;
  std::atomic<bool> closed_{false};
};

}  // namespace wex
