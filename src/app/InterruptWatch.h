#pragma once

#include <csignal>

namespace wex {

// While alive, Ctrl-C (SIGINT) and SIGTERM only raise a flag that a waiting
// command polls, so that it can end cleanly; the previous handlers come back
// at the end.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  static bool interrupted();

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

}  // namespace wex
