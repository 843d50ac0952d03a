#include "host/PortConversion.h"

#include <cmath>
#include <limits>

namespace wex {

namespace {

uint64_t indexFromNumber(double number) {
  if (std::isnan(number) || number <= 0.0) return 0;
  if (number >= 18446744073709551615.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(number);
}

uint64_t indexFrom(const Value& value) {
  if (value.isIndex()) return value.asIndex();
  if (value.isBoolean()) return value.asBoolean() ? 1 : 0;
  return indexFromNumber(value.asNumber());
}

}  // namespace

bool PortConversion::isNumeric(QCPortType type) {
  return type == QCPortType::Boolean || type == QCPortType::Index || type == QCPortType::Number;
}

bool PortConversion::convertible(QCPortType from, QCPortType to) {
  return from == to || (isNumeric(from) && isNumeric(to));
}

Value::Type PortConversion::valueTypeOf(QCPortType type) {
  switch (type) {
    case QCPortType::Boolean:
      return Value::Type::Boolean;
    case QCPortType::Index:
      return Value::Type::Index;
    case QCPortType::Number:
      return Value::Type::Number;
    case QCPortType::String:
      return Value::Type::String;
    case QCPortType::Structure:
      return Value::Type::Structure;
  }
  return Value::Type::None;
}

bool PortConversion::accepts(QCPortType type, const Value& value) {
  if (value.isNone()) return true;
  if (isNumeric(type)) return value.isNumeric();
  return value.type() == valueTypeOf(type);
}

std::optional<Value> PortConversion::convert(const Value& value, QCPortType type,
                                             const AttributeDictionary& attributes) {
  if (!accepts(type, value)) return std::nullopt;
  if (value.isNone()) return value;
  switch (type) {
    case QCPortType::Boolean:
      return Value::boolean(value.isBoolean() ? value.asBoolean() : value.toDouble() != 0.0);
    case QCPortType::Index: {
      uint64_t index = indexFrom(value);
      auto maximum = attributes.find(QCPortAttributeMaximumValueKey);
      if (maximum != attributes.end() && maximum->second.isNumeric()) {
        const uint64_t limit = indexFrom(maximum->second);
        if (index > limit) index = limit;
      }
      return Value::index(index);
    }
    case QCPortType::Number:
      return Value::number(value.toDouble());
    case QCPortType::String:
    case QCPortType::Structure:
      return value;
  }
  return std::nullopt;
}

}  // namespace wex
