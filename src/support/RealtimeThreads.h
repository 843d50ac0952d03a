#pragma once

#include <pthread.h>

#include <functional>

namespace wex {

// The threads that carry MIDI through the process: a MIDI backend's reader and
// the host's evaluation thread. Each enrolls itself for as long as it runs. A
// backend whose server schedules its own work in realtime installs a scheduler
// that raises the enrolled threads (and those that enroll later) to realtime
// priority, so that busy processes beside us do not hold MIDI back, and may
// place them on a CPU; it lowers them again when it withdraws. The host and
// the backends need not know each other for it.
//
// When the system refuses realtime scheduling the threads keep their ordinary
// scheduling, and the log gets one line for the whole process. A process
// whose MIDI timing does not matter (it lists endpoints, or sends and waits)
// says so with setWanted(false): its threads are then never raised, and no
// refusal is logged.
class RealtimeThreads {
 public:
  // The reader hands messages on to the evaluation thread, which ranks below it.
  enum class Role { reader, evaluation };

  // Raises (`realtime` true) or lowers a thread; false when that was refused.
  using Scheduler = std::function<bool(pthread_t thread, Role role, bool realtime)>;

  // Enrolls the calling thread while it lives.
  class Enrollment {
   public:
    explicit Enrollment(Role role);
    ~Enrollment();
    Enrollment(const Enrollment&) = delete;
    Enrollment& operator=(const Enrollment&) = delete;
  };

  // Makes `scheduler` the one in force, on behalf of `owner` (replacing any
  // other), and raises every enrolled thread with it.
  static void install(const void* owner, Scheduler scheduler);
  // When `owner` installed the scheduler in force: lowers the threads it
  // raised and removes it. Otherwise nothing.
  static void withdraw(const void* owner);
  // Whether threads are raised at all from now on; true unless set.
  static void setWanted(bool wanted);
  // How many enrolled threads run raised now.
  static int raisedCount();
};

}  // namespace wex
