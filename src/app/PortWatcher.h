#pragma once

#include <map>
#include <string>
#include <vector>

#include "app/JsonLineOutput.h"
#include "host/Composition.h"

namespace wex {

// The outputs watched with --watch: "id.port" or "id.*" (every output the
// patch has at the time, added ports included). Prints each assignment once,
// as {"time": T, "port": "id.port", "value": V}.
class PortWatcher {
 public:
  PortWatcher(Composition& composition, JsonLineOutput& output)
      : composition_(composition), output_(output) {}

  // False, with the reason, for an unknown patch or output.
  bool add(const std::string& spec, std::string* reason);
  bool empty() const { return watched_.empty(); }
  // On the evaluation thread, after each tick.
  void tick(double time);

 private:
  Composition& composition_;
  JsonLineOutput& output_;
  std::vector<PortAddress> watched_;
  std::map<std::string, uint64_t> seenVersions_;  // evaluation thread
};

}  // namespace wex
