#include "app/ControlEscapingBuffer.h"

namespace wex {

namespace {

bool isControl(unsigned char c) {
  return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
}

}  // namespace

bool ControlEscapingBuffer::put(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (!isControl(byte)) return target_->sputc(c) != traits_type::eof();
  static constexpr char kDigits[] = "0123456789abcdef";
  const char escaped[] = {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
  return target_->sputn(escaped, sizeof escaped) == sizeof escaped;
}

ControlEscapingBuffer::int_type ControlEscapingBuffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  return put(traits_type::to_char_type(ch)) ? ch : traits_type::eof();
}

std::streamsize ControlEscapingBuffer::xsputn(const char* text, std::streamsize count) {
  std::streamsize written = 0;
  while (written < count && put(text[written])) ++written;
  return written;
}

int ControlEscapingBuffer::sync() {
  return target_->pubsync();
}

}  // namespace wex
