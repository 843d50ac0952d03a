#include "host/Value.h"

#include "host/Structure.h"

namespace wex {

Value Value::boolean(bool value) {
  return Value(Storage(std::in_place_type<bool>, value));
}
Value Value::index(uint64_t value) {
  return Value(Storage(std::in_place_type<uint64_t>, value));
}
Value Value::number(double value) {
  return Value(Storage(std::in_place_type<double>, value));
}
Value Value::string(std::string value) {
  return Value(Storage(std::in_place_type<std::string>, std::move(value)));
}
Value Value::structure(std::shared_ptr<const Structure> value) {
  if (!value) return Value();
  return Value(Storage(std::in_place_type<std::shared_ptr<const Structure>>, std::move(value)));
}

double Value::toDouble() const {
  switch (type()) {
    case Type::Boolean:
      return asBoolean() ? 1.0 : 0.0;
    case Type::Index:
      return static_cast<double>(asIndex());
    case Type::Number:
      return asNumber();
    default:
      return 0.0;
  }
}

bool Value::operator==(const Value& other) const {
  if (type() != other.type()) return false;
  if (isStructure()) {
    return asStructure() == other.asStructure() || *asStructure() == *other.asStructure();
  }
  return storage_ == other.storage_;
}

const char* Value::typeName(Type type) {
  switch (type) {
    case Type::None:
      return "none";
    case Type::Boolean:
      return "boolean";
    case Type::Index:
      return "index";
    case Type::Number:
      return "number";
    case Type::String:
      return "string";
    case Type::Structure:
      return "structure";
  }
  return "none";
}

std::string Value::typeNameWithArticle(Type type) {
  if (type == Type::None) return "nothing";
  const std::string name = typeName(type);
  return (type == Type::Index ? "an " : "a ") + name;
}

}  // namespace wex
