#pragma once

#include <cstdint>

#include "host/PortAddress.h"
#include "host/PortTable.h"
#include "host/Value.h"

namespace wex {

// Feeds one connected input from its source output. Made with its
// connection and shared by every graph that holds the connection, so that
// what the input has taken outlives changes elsewhere in the graph. Used by
// one tick at a time.
class InputFeed {
 public:
  explicit InputFeed(const Connection& connection)
      : output_(connection.from.key), input_(connection.to.key) {}

  // Passes the output's value on to the input when the output has been
  // assigned since it last did. A source none of whose outputs was assigned
  // since the last call costs one atomic read: no lock, no lookup.
  void feed(PortTable& source, PortTable& target);

 private:
  PortTable::Slot output_;
  PortTable::Slot input_;
  uint64_t seenAssignments_ = UINT64_MAX;  // the source's count when last looked at
  uint64_t taken_ = 0;                     // the output's version last passed on
  Value value_;
};

}  // namespace wex
