#pragma once

#include <nlohmann/json.hpp>
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

  static Json toJSON(const Value& value);
  // Any JSON as a value, by the rule above.
  static Value fromJSON(const Json& json);
  // A value for a port of the given type; false with a reason when the JSON
  // is of another kind (an index needs a non-negative integer).
  static bool fromJSONForPort(const Json& json, QCPortType type, Value* out, std::string* reason);
  static std::string kindName(const Json& json);
};

}  // namespace wex
