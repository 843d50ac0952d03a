#include "app/PortWatcher.h"

#include <cmath>

#include "host/QuotedText.h"

namespace wex {

PortWatcher::Listener PortWatcher::jsonLines(JsonLineOutput& output) {
  return [&output](double time, const std::vector<Change>& changes) {
    const double rounded = std::round(time * 1e6) / 1e6;
    for (const auto& change : changes) {
      output.line(ValueJSON::Json{{"time", rounded},
                                  {"port", change.patchId + "." + change.key},
                                  {"value", ValueJSON::toJSON(change.value)}});
    }
  };
}

bool PortWatcher::add(const std::string& spec, std::string* reason) {
  PortAddress address;
  if (!PortAddress::parse(spec, &address)) {
    *reason = "expected ID.PORT or ID.*, got " + QuotedText::of(spec);
    return false;
  }
  auto plugIn = composition_.patch(address.patchId);
  if (!plugIn) {
    *reason = "there is no patch " + QuotedText::of(address.patchId);
    return false;
  }
  if (address.key != "*" && !plugIn->portTable().hasPort(QCPortDirection::Output, address.key)) {
    *reason = "patch " + QuotedText::of(address.patchId) + " has no output port " +
              QuotedText::of(address.key);
    return false;
  }
  watched_.push_back(address);
  return true;
}

void PortWatcher::tick(double time) {
  std::vector<Change> changes;
  if (everything_) {
    for (const auto& id : composition_.patchIds()) collect(id, "*", &changes);
  } else {
    for (const auto& address : watched_) collect(address.patchId, address.key, &changes);
  }
  if (!changes.empty()) listener_(time, changes);
}

void PortWatcher::collect(const std::string& patchId, const std::string& key,
                          std::vector<Change>* changes) {
  auto plugIn = composition_.patch(patchId);
  if (!plugIn) return;
  for (const auto& port : plugIn->portTable().ports(QCPortDirection::Output)) {
    if (key != "*" && port.key != key) continue;
    uint64_t& seen = seenVersions_[patchId + "." + port.key];
    if (port.version == seen) continue;
    seen = port.version;
    if (port.version == 0) continue;
    changes->push_back({patchId, port.key, port.value});
  }
}

}  // namespace wex
