#include "host/QuotedText.h"

namespace wex {

std::string QuotedText::of(std::string_view text) {
  size_t shown = text.size();
  if (shown > kLongestShown) {
    // Not inside a character of several bytes.
    shown = kLongestShown;
    while (shown > 0 && (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80) --shown;
  }
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string quoted = "\"";
  for (size_t i = 0; i < shown; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte == 0x7F) {
      quoted += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    } else {
      quoted += text[i];
    }
  }
  if (shown < text.size()) quoted += "...";
  return quoted + "\"";
}

}  // namespace wex
