#include "services/embedded/EmbeddedFaultInjector.h"

namespace wex {

void EmbeddedFaultInjector::failNext(const std::string& operation, OSStatus status, int count) {
  std::lock_guard lock(mutex_);
  if (count <= 0) {
    faults_.erase(operation);
    return;
  }
  faults_[operation] = Fault{status, count};
}

void EmbeddedFaultInjector::failAlways(const std::string& operation, OSStatus status) {
  std::lock_guard lock(mutex_);
  faults_[operation] = Fault{status, -1};
}

void EmbeddedFaultInjector::clear(const std::string& operation) {
  std::lock_guard lock(mutex_);
  faults_.erase(operation);
}

void EmbeddedFaultInjector::clearAll() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::optional<OSStatus> EmbeddedFaultInjector::take(const std::string& operation) {
  std::lock_guard lock(mutex_);
  auto it = faults_.find(operation);
  if (it == faults_.end()) return std::nullopt;
  const OSStatus status = it->second.status;
  if (it->second.remaining > 0 && --it->second.remaining == 0) faults_.erase(it);
  return status;
}

}  // namespace wex
