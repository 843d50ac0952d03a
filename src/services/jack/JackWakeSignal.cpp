#include "services/jack/JackWakeSignal.h"

#include <cerrno>
#include <ctime>

namespace wex {

JackWakeSignal::JackWakeSignal() {
  sem_init(&semaphore_, 0, 0);
}

JackWakeSignal::~JackWakeSignal() {
  sem_destroy(&semaphore_);
}

void JackWakeSignal::notify() {
  if (!pending_.exchange(true, std::memory_order_acq_rel)) sem_post(&semaphore_);
}

bool JackWakeSignal::wait(std::chrono::milliseconds timeout) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const long long nanoseconds =
      deadline.tv_nsec + std::chrono::duration_cast<std::chrono::nanoseconds>(timeout).count();
  deadline.tv_sec += static_cast<time_t>(nanoseconds / 1000000000);
  deadline.tv_nsec = static_cast<long>(nanoseconds % 1000000000);
  while (sem_timedwait(&semaphore_, &deadline) != 0) {
    if (errno != EINTR) return false;
  }
  // Cleared before the caller looks for work, so a notify() made while it
  // works posts again.
  pending_.store(false, std::memory_order_release);
  return true;
}

}  // namespace wex
