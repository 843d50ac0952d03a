#include "host/QuotedText.h"

namespace wex {

std::string QuotedText::of(std::string_view text) {
  return "\"" + shown(text) + "\"";
}

std::string QuotedText::shown(std::string_view text) {
  size_t length = text.size();
  if (length > kLongestShown) {
    // Not inside a character of several bytes.
    length = kLongestShown;
    while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80) --length;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string result;
  for (size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      result += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    } else {
      result += text[i];
    }
  }
  if (length < text.size()) result += "...";
  return result;
}

}  // namespace wex
