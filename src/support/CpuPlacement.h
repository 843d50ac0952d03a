#pragma once

#include <pthread.h>
#include <sched.h>

namespace wex {

// Where threads may run. Threads that hand work to each other within a
// period are kept on one CPU: on some machines (virtual ones in particular) a
// thread woken on another CPU now and then starts a whole period late.
class CpuPlacement {
 public:
  // The CPUs the calling thread may run on now.
  CpuPlacement();

  // The CPU the calling thread runs on now, or -1 when unknown.
  static int currentCpu();

  // Keeps `thread` on `cpu` alone; false when the system refused.
  static bool pin(pthread_t thread, int cpu);
  // Lets `thread` run on every CPU of this placement again.
  bool release(pthread_t thread) const;

 private:
  cpu_set_t cpus_;
};

}  // namespace wex
