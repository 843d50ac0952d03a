#pragma once

#include <string>

namespace wex {

// Where --osc-out sends: HOST:PORT (UDP), or a URL with its protocol,
// osc.udp://HOST:PORT or osc.tcp://HOST:PORT.
struct OscTarget {
  std::string host;
  std::string port;
  bool tcp = false;

  // False, with the reason, for text that names no such place.
  static bool parse(const std::string& text, OscTarget* target, std::string* reason);
  std::string text() const;
};

}  // namespace wex
