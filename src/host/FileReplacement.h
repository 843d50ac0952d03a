#pragma once

#include <string>

namespace wex {

// Replaces a file's contents the way careful editors do: the new contents
// are written and synced beside the file, then renamed over it, so that a
// failure at any point (a full disk, a size limit, a read-only place, the
// program killed) leaves the old file whole. The replaced file keeps its
// mode and owner; a symbolic link is followed and its target replaced. The
// new contents live in an unnamed file until they are complete (where the
// file system allows; else in a file of an unpredictable name, removed on
// failure), so nothing is left behind.
class FileReplacement {
 public:
  // False with the reason (errno's text) when the file cannot be replaced.
  static bool replace(const std::string& path, const std::string& contents, std::string* reason);
  // Where a path leads after its symbolic links, as far as they exist.
  static std::string followLinks(const std::string& path, std::string* reason);
};

}  // namespace wex
