#include "host/PatchPositions.h"

namespace wex {

void PatchPositions::set(const std::string& id, Point point) {
  std::lock_guard lock(mutex_);
  points_[id] = point;
}

void PatchPositions::erase(const std::string& id) {
  std::lock_guard lock(mutex_);
  points_.erase(id);
}

std::optional<PatchPositions::Point> PatchPositions::get(const std::string& id) const {
  std::lock_guard lock(mutex_);
  auto found = points_.find(id);
  if (found == points_.end()) return std::nullopt;
  return found->second;
}

}  // namespace wex
