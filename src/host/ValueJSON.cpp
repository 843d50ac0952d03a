#include "host/ValueJSON.h"

#include <cmath>
#include <cstdint>
#include <optional>
#include <stdexcept>

#include "host/Structure.h"

namespace wex {

ValueJSON::Json ValueJSON::toJSON(const Value& value) {
  switch (value.type()) {
    case Value::Type::None:
      return nullptr;
    case Value::Type::Boolean:
      return value.asBoolean();
    case Value::Type::Index:
      return value.asIndex();
    case Value::Type::Number: {
      // A whole number prints as one (9452644, not 9452644.0); it reads back
      // as a number all the same.
      const double number = value.asNumber();
      constexpr double kExact = 9007199254740992.0;  // 2^53
      const bool negativeZero = number == 0 && std::signbit(number);
      if (std::trunc(number) == number && std::fabs(number) < kExact && !negativeZero) {
        return static_cast<int64_t>(number);
      }
      return number;
    }
    case Value::Type::String:
      return value.asString();
    case Value::Type::Structure: {
      const auto& structure = *value.asStructure();
      if (structure.isOrdered()) {
        Json list = Json::array();
        for (const auto& element : structure.values()) list.push_back(toJSON(element));
        return list;
      }
      Json map = Json::object();
      // The keys are distinct: append them without the map's search per key.
      auto& entries = static_cast<Json::object_t::Container&>(map.get_ref<Json::object_t&>());
      for (const auto& [key, element] : structure.entries()) {
        entries.emplace_back(key, toJSON(element));
      }
      return map;
    }
  }
  return nullptr;
}

Value ValueJSON::fromJSON(const Json& json) {
  return fromJSON(json, 0);
}

Value ValueJSON::fromJSON(const Json& json, size_t depth) {
  if ((json.is_array() || json.is_object()) && depth >= kMaxDepth) {
    throw std::length_error("lists and objects nest deeper than " + std::to_string(kMaxDepth) +
                            " levels");
  }
  switch (json.type()) {
    case Json::value_t::boolean:
      return Value::boolean(json.get<bool>());
    case Json::value_t::number_unsigned:
      return Value::index(json.get<uint64_t>());
    case Json::value_t::number_integer:
    case Json::value_t::number_float:
      return Value::number(json.get<double>());
    case Json::value_t::string:
      return Value::string(json.get<std::string>());
    case Json::value_t::array: {
      std::vector<Value> values;
      values.reserve(json.size());
      for (const auto& element : json) values.push_back(fromJSON(element, depth + 1));
      return Value::structure(Structure::makeList(std::move(values)));
    }
    case Json::value_t::object: {
      std::vector<std::pair<std::string, Value>> entries;
      entries.reserve(json.size());
      for (const auto& [key, element] : json.items())
        entries.emplace_back(key, fromJSON(element, depth + 1));
      return Value::structure(Structure::makeMap(std::move(entries)));
    }
    default:
      return Value();
  }
}

std::optional<uint64_t> ValueJSON::wholeIndex(const Json& json) {
  if (json.is_number_unsigned()) return json.get<uint64_t>();
  if (!json.is_number_float()) return std::nullopt;
  const double number = json.get<double>();
  constexpr double kBeyondIndex = 18446744073709551616.0;  // 2^64
  if (!(number >= 0 && number < kBeyondIndex) || std::trunc(number) != number) return std::nullopt;
  return static_cast<uint64_t>(number);
}

std::string ValueJSON::kindName(const Json& json) {
  switch (json.type()) {
    case Json::value_t::null:
      return "null";
    case Json::value_t::boolean:
      return "a boolean";
    case Json::value_t::number_unsigned:
      return "an unsigned integer";
    case Json::value_t::number_integer:
      return "a negative integer";
    case Json::value_t::number_float:
      return "a number with a fraction";
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "a list";
    case Json::value_t::object:
      return "an object";
    default:
      return "binary data";
  }
}

bool ValueJSON::fromJSONForPort(const Json& json, QCPortType type, Value* out,
                                std::string* reason) {
  bool fits = false;
  const char* expected = "";
  switch (type) {
    case QCPortType::Boolean:
      fits = json.is_boolean();
      expected = "a boolean";
      break;
    case QCPortType::Index:
      // A whole number however written (127, 127.0, 1e2), as settings take.
      if (const auto whole = wholeIndex(json)) {
        *out = Value::index(*whole);
        return true;
      }
      expected = "an index (a whole number from 0 to 18446744073709551615)";
      break;
    case QCPortType::Number:
      fits = json.is_number();
      expected = "a number";
      break;
    case QCPortType::String:
      fits = json.is_string();
      expected = "a string";
      break;
    case QCPortType::Structure:
      fits = json.is_array() || json.is_object();
      expected = "a structure (a list or an object)";
      break;
  }
  if (!fits) {
    const bool wholeBeyond = type == QCPortType::Index && json.is_number_float() &&
                             std::trunc(json.get<double>()) == json.get<double>();
    *reason = std::string("expected ") + expected + ", got " +
              (wholeBeyond ? "a whole number beyond that range" : kindName(json));
    return false;
  }
  try {
    *out = fromJSON(json);
  } catch (const std::length_error& error) {
    *reason = error.what();
    return false;
  }
  if (type == QCPortType::Number) *out = Value::number(out->toDouble());
  return true;
}

}  // namespace wex
