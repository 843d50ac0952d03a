#include "services/EndpointTable.h"

namespace wex {

int32_t ListedEndpoint::uniqueIDFor(const std::string& key) {
  uint32_t hash = 2166136261u;  // FNV-1a
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 16777619u;
  }
  return static_cast<int32_t>(hash);
}

}  // namespace wex
