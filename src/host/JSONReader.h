#pragma once

#include <stdexcept>
#include <string>

#include "host/ValueJSON.h"

namespace wex {

// JSON that cannot be read: a syntax error, too deep a nesting, a duplicate
// key, a number beyond a double. The message names the place.
class JSONReadError : public std::runtime_error {
 public:
  explicit JSONReadError(const std::string& message) : std::runtime_error(message) {}
};

// Parses JSON from untrusted places (files, lines, arguments) in time and
// memory linear in the text: objects keep their keys in order without a
// search per key, a duplicate key is an error instead of a silent overwrite,
// and nesting beyond `maxDepth` arrays and objects is refused before it can
// exhaust the stack of whatever walks the result. A text of more than
// kMaxValues values is refused as it is read, each list and object counted
// twice (it costs about twice a number once read): a value as short as []
// takes a hundred bytes and more once read and converted, so the size of a
// text alone does not bound the memory it takes.
class JSONReader {
 public:
  static constexpr size_t kMaxValues = 2'500'000;

  static ValueJSON::Json parse(const std::string& text, size_t maxDepth,
                               size_t maxValues = kMaxValues);
  // The values of a document as parse counts them.
  static size_t valueCount(const ValueJSON::Json& document);
  static size_t weight(const ValueJSON::Json& value) { return value.is_structured() ? 2 : 1; }
};

}  // namespace wex
