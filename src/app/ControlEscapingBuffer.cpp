#include "app/ControlEscapingBuffer.h"

#include <algorithm>

namespace wex {

namespace {

bool isControl(unsigned char c) {
  return (c < 0x20 && c != '\n' && c != '\t') || c == 0x7F;
}

}  // namespace

ControlEscapingBuffer::~ControlEscapingBuffer() {
  std::lock_guard lock(mutex_);
  handOn();
}

void ControlEscapingBuffer::append(const char* text, size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (isControl(byte)) {
      gathered_ += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0F]};
    } else {
      gathered_ += text[i];
    }
  }
}

bool ControlEscapingBuffer::handOn() {
  const auto size = static_cast<std::streamsize>(gathered_.size());
  const bool taken = size == 0 || target_->sputn(gathered_.data(), size) == size;
  gathered_.clear();
  return taken;
}

ControlEscapingBuffer::int_type ControlEscapingBuffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return traits_type::not_eof(ch);
  const char c = traits_type::to_char_type(ch);
  std::lock_guard lock(mutex_);
  append(&c, 1);
  if (gathered_.size() >= kPieceLength && !handOn()) return traits_type::eof();
  return ch;
}

std::streamsize ControlEscapingBuffer::xsputn(const char* text, std::streamsize count) {
  std::lock_guard lock(mutex_);
  std::streamsize done = 0;
  while (done < count) {
    const auto piece = std::min<std::streamsize>(count - done, kPieceLength);
    append(text + done, static_cast<size_t>(piece));
    done += piece;
    if (gathered_.size() >= kPieceLength && !handOn()) return 0;
  }
  return done;
}

int ControlEscapingBuffer::sync() {
  std::lock_guard lock(mutex_);
  if (!handOn()) return -1;
  return target_->pubsync();
}

}  // namespace wex
