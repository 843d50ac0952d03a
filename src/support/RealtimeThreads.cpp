#include "support/RealtimeThreads.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "support/SystemLog.h"

namespace wex {

namespace {

struct Enrolled {
  pthread_t thread;
  RealtimeThreads::Role role;
  bool raised;
};

struct State {
  std::mutex mutex;
  std::vector<Enrolled> threads;         // guarded by mutex
  const void* owner = nullptr;           // guarded by mutex
  RealtimeThreads::Scheduler scheduler;  // guarded by mutex
  bool refusalLogged = false;            // guarded by mutex
  bool wanted = true;                    // guarded by mutex
};

State& state() {
  static State instance;
  return instance;
}

// With the mutex held.
void raise(State& s, Enrolled& enrolled) {
  if (!s.wanted) return;
  enrolled.raised = s.scheduler(enrolled.thread, enrolled.role, true);
  if (enrolled.raised || s.refusalLogged) return;
  s.refusalLogged = true;
  SystemLog::write(
      "\trealtime scheduling refused: MIDI threads keep ordinary scheduling (see rtprio in "
      "/etc/security/limits.conf)");
}

void lowerAll(State& s) {
  for (auto& enrolled : s.threads) {
    if (enrolled.raised) s.scheduler(enrolled.thread, enrolled.role, false);
    enrolled.raised = false;
  }
}

}  // namespace

RealtimeThreads::Enrollment::Enrollment(Role role) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.threads.push_back({pthread_self(), role, false});
  if (s.scheduler) raise(s, s.threads.back());
}

RealtimeThreads::Enrollment::~Enrollment() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  const pthread_t self = pthread_self();
  std::erase_if(s.threads,
                [&](const Enrolled& enrolled) { return pthread_equal(enrolled.thread, self); });
}

void RealtimeThreads::install(const void* owner, Scheduler scheduler) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (s.scheduler) lowerAll(s);
  s.owner = owner;
  s.scheduler = std::move(scheduler);
  if (!s.scheduler) return;
  for (auto& enrolled : s.threads) raise(s, enrolled);
}

void RealtimeThreads::withdraw(const void* owner) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  if (s.owner != owner || !s.scheduler) return;
  lowerAll(s);
  s.scheduler = nullptr;
  s.owner = nullptr;
}

void RealtimeThreads::setWanted(bool wanted) {
  State& s = state();
  std::lock_guard lock(s.mutex);
  s.wanted = wanted;
}

int RealtimeThreads::raisedCount() {
  State& s = state();
  std::lock_guard lock(s.mutex);
  return static_cast<int>(std::count_if(s.threads.begin(), s.threads.end(),
                                        [](const Enrolled& enrolled) { return enrolled.raised; }));
}

}  // namespace wex
