#include "osc/OscTarget.h"

#include <cstdlib>

namespace wex {

namespace {

bool validPort(const std::string& text) {
  if (text.empty() || text.size() > 5) return false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const long number = std::strtol(text.c_str(), nullptr, 10);
  return number >= 1 && number <= 65535;
}

}  // namespace

bool OscTarget::parse(const std::string& text, OscTarget* target, std::string* reason) {
  std::string rest = text;
  target->tcp = false;
  if (rest.rfind("osc.tcp://", 0) == 0) {
    target->tcp = true;
    rest = rest.substr(10);
  } else if (rest.rfind("osc.udp://", 0) == 0) {
    rest = rest.substr(10);
  }
  if (!rest.empty() && rest.back() == '/') rest.pop_back();
  const size_t colon = rest.rfind(':');
  if (colon == std::string::npos) {
    *reason =
        "expected HOST:PORT, osc.udp://HOST:PORT or osc.tcp://HOST:PORT, got \"" + text + "\"";
    return false;
  }
  target->host = rest.substr(0, colon);
  target->port = rest.substr(colon + 1);
  if (target->host.size() > 2 && target->host.front() == '[' && target->host.back() == ']') {
    target->host = target->host.substr(1, target->host.size() - 2);
  }
  if (target->host.empty() || !validPort(target->port)) {
    *reason = "expected HOST:PORT with PORT 1 to 65535, got \"" + text + "\"";
    return false;
  }
  return true;
}

std::string OscTarget::text() const {
  return std::string(tcp ? "osc.tcp://" : "osc.udp://") + host + ":" + port;
}

}  // namespace wex
