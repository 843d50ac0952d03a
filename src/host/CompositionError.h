#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace wex {

// What the composition refuses: an unknown class or port, a duplicate id, a
// value of the wrong kind, a connection that would close a cycle.
class CompositionError : public std::runtime_error {
 public:
  explicit CompositionError(const std::string& reason) : std::runtime_error(reason) {}
};

// A cycle found when changes are committed: `connection` counts the
// connections made since beginChanges, from 0, up to the one that closed it.
class CompositionCycleError : public CompositionError {
 public:
  CompositionCycleError(const std::string& reason, size_t connection)
      : CompositionError(reason), connection_(connection) {}
  size_t connection() const { return connection_; }

 private:
  size_t connection_;
};

}  // namespace wex
