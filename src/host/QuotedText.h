#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace wex {

// A name or other text from outside, quoted for a message: in double quotes,
// with a NUL and the other control characters written as \xNN, so that the
// message is not cut short at a NUL and cannot move a terminal's cursor, and
// cut after kLongestShown bytes with "...", so that a name of a megabyte
// does not make a message of a megabyte.
class QuotedText {
 public:
  static constexpr size_t kLongestShown = 80;

  static std::string of(std::string_view text);
  // The same without the quotes, for a key in a path ("patches[0].inputs.x").
  static std::string shown(std::string_view text);
};

}  // namespace wex
