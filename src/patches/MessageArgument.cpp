#include "patches/MessageArgument.h"

#include <charconv>

namespace wex {

namespace {

// Higher bits carry nothing: a number that has them is a mistake, not a
// message (the highest 64-bit number would otherwise go out as a reset).
std::optional<Value> withinRange(double number, Value value, std::string& error) {
  if (number > static_cast<double>(MessageArgument::kLargestMessageNumber)) {
    error = "the number is above 16777215 (0xFFFFFF), the largest message number";
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<Value> MessageArgument::value(const std::string& argument, std::string& error) {
  const char* begin = argument.data();
  const char* end = begin + argument.size();
  if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
    return Value::string(argument.substr(1, argument.size() - 2));
  }
  if (argument.size() > 2 && argument[0] == '0' && (argument[1] == 'x' || argument[1] == 'X')) {
    uint64_t number = 0;
    auto [stop, status] = std::from_chars(begin + 2, end, number, 16);
    if (status != std::errc() || stop != end) {
      error = "not a hex number";
      return std::nullopt;
    }
    return withinRange(static_cast<double>(number), Value::index(number), error);
  }
  double number = 0;
  auto [stop, status] = std::from_chars(begin, end, number);
  if (status == std::errc() && stop == end) {
    return withinRange(number, Value::number(number), error);
  }
  if (status == std::errc::result_out_of_range && stop == end) {
    error = "the number is out of range";
    return std::nullopt;
  }
  return Value::string(argument);
}

}  // namespace wex
