#include "services/jack/JackProgressSignal.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>

namespace wex {

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "the futex word is the atomic itself");

long futex(std::atomic<uint32_t>& word, int operation, uint32_t value, const timespec* timeout) {
  return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), operation, value, timeout, nullptr,
                 0);
}

}  // namespace

void JackProgressSignal::post() {
  count_.fetch_add(1);
  if (waiters_.load() != 0) futex(count_, FUTEX_WAKE_PRIVATE, INT_MAX, nullptr);
}

bool JackProgressSignal::waitPast(uint32_t seen, Clock::time_point deadline) {
  waiters_.fetch_add(1);
  while (count_.load() == seen) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) break;
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
    const timespec timeout{static_cast<time_t>(nanoseconds / 1000000000),
                           static_cast<long>(nanoseconds % 1000000000)};
    // Returns at once when a post came in between the load and the call.
    futex(count_, FUTEX_WAIT_PRIVATE, seen, &timeout);
  }
  waiters_.fetch_sub(1);
  return count_.load() != seen;
}

}  // namespace wex
