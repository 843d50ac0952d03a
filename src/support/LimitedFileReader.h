#pragma once

#include <cstdint>
#include <string>

namespace wex {

// Reads a whole file given from outside (a composition, a MIDI file, a file
// of bytes to send) under one rule: a directory is refused, and so is a
// file, a device or a pipe that holds more than kMaxFileSize, before memory
// grows past that.
class LimitedFileReader {
 public:
  static constexpr uint64_t kMaxFileSize = 64 * 1024 * 1024;

  // False, with the reason after the path ("PATH: is a directory, not a
  // file"), when the file cannot be read whole.
  static bool read(const std::string& path, std::string* contents, std::string* reason);
};

}  // namespace wex
