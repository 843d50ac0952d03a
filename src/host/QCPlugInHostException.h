#pragma once

#include <stdexcept>
#include <string>

namespace wex {

// Raised by the host when it refuses a port operation: adding a port whose key
// exists, removing or setting a port that does not exist.
class QCPlugInHostException : public std::runtime_error {
 public:
  explicit QCPlugInHostException(const std::string& reason) : std::runtime_error(reason) {}
};

}  // namespace wex
