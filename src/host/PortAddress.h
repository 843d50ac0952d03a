#pragma once

#include <string>

namespace wex {

// A port of a patch in a composition, written "id.port".
struct PortAddress {
  std::string patchId;
  std::string key;

  // Splits at the first '.'; false when either side is empty.
  static bool parse(const std::string& text, PortAddress* out);
  std::string text() const { return patchId + "." + key; }
  bool operator==(const PortAddress& other) const = default;
};

struct Connection {
  PortAddress from;  // an output
  PortAddress to;    // an input
  bool operator==(const Connection& other) const = default;
};

}  // namespace wex
