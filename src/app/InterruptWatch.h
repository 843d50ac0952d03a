#pragma once

#include <csignal>

namespace wex {

// While alive, Ctrl-C (SIGINT), SIGTERM and SIGHUP (a closed terminal, a
// dropped remote session) only raise a flag that a waiting command polls, so
// that it can end cleanly, saving and sending its note offs; the previous
// handlers come back at the end.
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
  struct sigaction previousHangUp_ {};
};

}  // namespace wex
