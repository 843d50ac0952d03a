#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/JsonLineOutput.h"
#include "host/Composition.h"

namespace wex {

// Watched outputs: "id.port" or "id.*" (every output the patch has at the
// time, added ports included), or every output of every patch. After each
// tick it tells its listener of the outputs assigned during the tick, once
// each, in the order of the patterns.
class PortWatcher {
 public:
  struct Change {
    std::string patchId;
    std::string key;
    Value value;
  };
  // On the evaluation thread; never called with no changes.
  using Listener = std::function<void(double time, const std::vector<Change>& changes)>;

  PortWatcher(Composition& composition, Listener listener)
      : composition_(composition), listener_(std::move(listener)) {}
  // Prints each change as {"time": T, "port": "id.port", "value": V}.
  static Listener jsonLines(JsonLineOutput& output);

  // False, with the reason, for an unknown patch or output.
  bool add(const std::string& spec, std::string* reason);
  // Watches every output of every patch, those added later included.
  void addEverything() { everything_ = true; }
  bool empty() const { return watched_.empty() && !everything_; }
  // On the evaluation thread, after each tick.
  void tick(double time);

 private:
  void collect(const std::string& patchId, const std::string& key, std::vector<Change>* changes);

  Composition& composition_;
  Listener listener_;
  std::vector<PortAddress> watched_;
  bool everything_ = false;
  std::map<std::string, uint64_t> seenVersions_;  // evaluation thread
};

}  // namespace wex
