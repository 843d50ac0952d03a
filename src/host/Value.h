#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

namespace wex {

class Structure;

// A value on a patch port: none, boolean, index (unsigned integer), number
// (double), string, or structure (shared and immutable once built).
class Value {
 public:
  enum class Type { None, Boolean, Index, Number, String, Structure };

  Value() = default;
  static Value boolean(bool value);
  static Value index(uint64_t value);
  static Value number(double value);
  static Value string(std::string value);
  static Value structure(std::shared_ptr<const Structure> value);

  Type type() const { return static_cast<Type>(storage_.index()); }
  bool isNone() const { return type() == Type::None; }
  bool isBoolean() const { return type() == Type::Boolean; }
  bool isIndex() const { return type() == Type::Index; }
  bool isNumber() const { return type() == Type::Number; }
  bool isString() const { return type() == Type::String; }
  bool isStructure() const { return type() == Type::Structure; }
  // Boolean, index or number.
  bool isNumeric() const { return isBoolean() || isIndex() || isNumber(); }

  // The stored value; call only for the matching type.
  bool asBoolean() const { return std::get<bool>(storage_); }
  uint64_t asIndex() const { return std::get<uint64_t>(storage_); }
  double asNumber() const { return std::get<double>(storage_); }
  const std::string& asString() const { return std::get<std::string>(storage_); }
  const std::shared_ptr<const Structure>& asStructure() const {
    return std::get<std::shared_ptr<const Structure>>(storage_);
  }

  // Any numeric value as a double (booleans as 0 or 1); 0 for other types.
  double toDouble() const;

  // Deep equality; structures compare by contents.
  bool operator==(const Value& other) const;

  static const char* typeName(Type type);
  // The name after its article, for messages: "an index", "a number"
  // ("nothing" for none).
  static std::string typeNameWithArticle(Type type);

 private:
  using Storage = std::variant<std::monostate, bool, uint64_t, double, std::string,
                               std::shared_ptr<const Structure>>;
  explicit Value(Storage storage) : storage_(std::move(storage)) {}

  Storage storage_;
};

}  // namespace wex
