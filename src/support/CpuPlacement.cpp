#include "support/CpuPlacement.h"

namespace wex {

CpuPlacement::CpuPlacement() {
  CPU_ZERO(&cpus_);
  if (pthread_getaffinity_np(pthread_self(), sizeof cpus_, &cpus_) != 0) {
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) CPU_SET(cpu, &cpus_);
  }
}

int CpuPlacement::currentCpu() {
  return sched_getcpu();
}

bool CpuPlacement::pin(pthread_t thread, int cpu) {
  if (cpu < 0 || cpu >= CPU_SETSIZE) return false;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  return pthread_setaffinity_np(thread, sizeof one, &one) == 0;
}

bool CpuPlacement::release(pthread_t thread) const {
  return pthread_setaffinity_np(thread, sizeof cpus_, &cpus_) == 0;
}

}  // namespace wex
