#include "host/InputFeed.h"

namespace wex {

void InputFeed::feed(PortTable& source, PortTable& target) {
  // Read before the output: an assignment after this read changes the count
  // and is taken on a later call.
  const uint64_t assignments = source.outputAssignments();
  if (assignments == seenAssignments_) return;
  seenAssignments_ = assignments;
  if (source.takeOutput(output_, &taken_, &value_)) target.updateInput(input_, value_);
}

}  // namespace wex
