#pragma once

#include <optional>

#include "host/QCPlugInTypes.h"
#include "host/Value.h"

namespace wex {

// The conversions the host makes when a value reaches a port: booleans,
// indexes and numbers convert among themselves, strings and structures only
// to their own type; none stays none.
class PortConversion {
 public:
  // Whether values of the output's type can feed an input of the other.
  static bool convertible(QCPortType from, QCPortType to);
  static bool accepts(QCPortType type, const Value& value);
  // The value as the port holds it (an index kept within the port's maximum,
  // if it has one); nothing when the kinds do not convert.
  static std::optional<Value> convert(const Value& value, QCPortType type,
                                      const AttributeDictionary& attributes);
  static Value::Type valueTypeOf(QCPortType type);
  static bool isNumeric(QCPortType type);
};

}  // namespace wex
