#pragma once

#include <string>

namespace wex {

// Replaces a file's contents the way careful editors do: the new contents
// are written and synced beside the file, then renamed over it, so that a
// failure at any point (a full disk, a size limit, a read-only place, the
// program killed) leaves the old file whole. The replaced file keeps its
// mode and owner; a symbolic link is followed and its target replaced.
//
// The new contents live in an unnamed file until they are complete (where
// the file system allows; else in a file of an unpredictable name, removed on
// failure). A named temporary file is ".NAME.wexmidi-save-" and random
// letters, locked while its save runs; one left by a killed save is removed
// by the next save of the same file.
class FileReplacement {
 public:
  // False with the reason (errno's text) when the file cannot be replaced.
  static bool replace(const std::string& path, const std::string& contents, std::string* reason);
  // Where a path leads after its symbolic links, as far as they exist.
  static std::string followLinks(const std::string& path, std::string* reason);
  // The name temporary files for `base` (a file name without its folder)
  // start with.
  static std::string temporaryPrefix(const std::string& base);
  // With false, saves write a named temporary file from the start, as on
  // file systems without unnamed files (for tests of that way).
  static void setUnnamedFilesAllowed(bool allowed);
};

}  // namespace wex
