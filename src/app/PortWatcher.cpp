#include "app/PortWatcher.h"

#include <cmath>

#include "host/QuotedText.h"

namespace wex {

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
  const double rounded = std::round(time * 1e6) / 1e6;
  for (const auto& address : watched_) {
    auto plugIn = composition_.patch(address.patchId);
    if (!plugIn) continue;
    for (const auto& port : plugIn->portTable().ports(QCPortDirection::Output)) {
      if (address.key != "*" && port.key != address.key) continue;
      const std::string name = address.patchId + "." + port.key;
      uint64_t& seen = seenVersions_[name];
      if (port.version == seen) continue;
      seen = port.version;
      if (port.version == 0) continue;
      output_.line(ValueJSON::Json{
          {"time", rounded}, {"port", name}, {"value", ValueJSON::toJSON(port.value)}});
    }
  }
}

}  // namespace wex
