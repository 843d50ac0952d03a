#pragma once

#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>

#include "host/Value.h"

namespace wex {

// The integer a panel cell's value reads as: a number without its fraction,
// a text by its leading decimal integer (0 when there is none); 0 for
// anything else. Tick boxes send 1 for ticked.
inline int64_t panelIntegerReading(const Value& value) {
  if (value.isIndex()) return static_cast<int64_t>(value.asIndex() & INT64_MAX);
  if (value.isNumeric()) {
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::fabs(number) >= 9.0e18) return 0;
    return static_cast<int64_t>(number);
  }
  if (!value.isString()) return 0;
  const std::string& text = value.asString();
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t result = 0;
  for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    if (result > INT64_MAX / 10 - 9) break;
    result = result * 10 + (text[i] - '0');
  }
  return negative ? -result : result;
}

// A tick box's value as the panel shows it: 1 ticked, 0 not.
inline Value panelTick(bool ticked) {
  return Value::index(ticked ? 1 : 0);
}

}  // namespace wex
