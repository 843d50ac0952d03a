#include "app/MessageArgument.h"

#include <charconv>

namespace wex {

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
    return Value::index(number);
  }
  double number = 0;
  auto [stop, status] = std::from_chars(begin, end, number);
  if (status == std::errc() && stop == end) return Value::number(number);
  if (status == std::errc::result_out_of_range && stop == end) {
    error = "the number is out of range";
    return std::nullopt;
  }
  return Value::string(argument);
}

}  // namespace wex
