#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace wex {

// The order in which the patches of a composition run: patches are numbered
// by when they were added, an edge (from, to) makes `from` run before `to`.
class EvaluationOrder {
 public:
  using Edge = std::pair<size_t, size_t>;

  // Kahn's algorithm, always taking the earliest added patch that is ready,
  // so that unrelated patches run in the order they were added; O((n + e)
  // log n). False when the edges make a cycle: then `cycle` (if given) holds
  // one, as patch numbers starting from its earliest added patch.
  static bool compute(size_t count, const std::vector<Edge>& edges, std::vector<size_t>* order,
                      std::vector<size_t>* cycle);
};

}  // namespace wex
