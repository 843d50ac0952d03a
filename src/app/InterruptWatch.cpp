#include "app/InterruptWatch.h"

#include <atomic>

namespace wex {

namespace {

std::atomic<bool> interruptedFlag{false};

void onInterrupt(int) {
  interruptedFlag = true;
}

}  // namespace

InterruptWatch::InterruptWatch() {
  interruptedFlag = false;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousInt_);
  sigaction(SIGTERM, &action, &previousTerm_);
  sigaction(SIGHUP, &action, &previousHangUp_);
}

InterruptWatch::~InterruptWatch() {
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
  sigaction(SIGHUP, &previousHangUp_, nullptr);
}

bool InterruptWatch::interrupted() {
  return interruptedFlag.load();
}

}  // namespace wex
