#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "host/QCPlugInTypes.h"
#include "host/Value.h"

namespace wex {

// Values as JSON, for composition files and the program's output: booleans,
// unsigned integers (index), other numbers (number), strings, arrays (ordered
// structures), objects (keyed structures), null (none).
class ValueJSON {
 public:
  using Json = nlohmann::ordered_json;
  // Lists and objects nest at most this deep in a value.
  static constexpr size_t kMaxDepth = 64;

  static Json toJSON(const Value& value);
  // Any JSON as a value, by the rule above. Throws std::length_error when it
  // nests deeper than kMaxDepth.
  static Value fromJSON(const Json& json);
  // A value for a port of the given type; false with a reason when the JSON
  // is of another kind (an index needs a whole number, see wholeIndex).
  static bool fromJSONForPort(const Json& json, QCPortType type, Value* out, std::string* reason);
  // The one rule for whole numbers: an integer from 0 to 2^64 - 1 however
  // written (127, 127.0, 1e2); none for a fraction, a negative number or one
  // beyond.
  static std::optional<uint64_t> wholeIndex(const Json& json);
  static std::string kindName(const Json& json);

 private:
  static Value fromJSON(const Json& json, size_t depth);
};

}  // namespace wex
