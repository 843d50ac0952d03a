#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "host/Structure.h"

namespace wex {

// What the host hands a patch with each execution call, one for each
// evaluation. It stands for the host's rendering context, and carries the
// moments of outside events through the evaluation: a patch that takes events
// in from outside notes, for the structure it outputs them in, when each of
// its elements came in; a patch that sends them out again, given that same
// structure, finds those moments and keeps the events' timing by them.
class QCPlugInContext {
 public:
  virtual ~QCPlugInContext() = default;

  // Moments in nanoseconds of std::chrono::steady_clock, one for each
  // element of the ordered structure (0: not known).
  void noteMoments(std::shared_ptr<const Structure> structure, std::vector<uint64_t> moments) {
    moments_.emplace_back(std::move(structure), std::move(moments));
  }
  // The moments noted for this structure in this evaluation, else null.
  const std::vector<uint64_t>* momentsOf(const Structure* structure) const {
    for (const auto& [noted, moments] : moments_) {
      if (noted.get() == structure) return &moments;
    }
    return nullptr;
  }

 private:
  std::vector<std::pair<std::shared_ptr<const Structure>, std::vector<uint64_t>>> moments_;
};

}  // namespace wex
