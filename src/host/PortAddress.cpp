#include "host/PortAddress.h"

namespace wex {

bool PortAddress::parse(const std::string& text, PortAddress* out) {
  const size_t dot = text.find('.');
  if (dot == std::string::npos || dot == 0 || dot + 1 == text.size()) return false;
  out->patchId = text.substr(0, dot);
  out->key = text.substr(dot + 1);
  return true;
}

}  // namespace wex
