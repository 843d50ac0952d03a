#include "app/HexReader.h"

#include <array>

namespace wex {

namespace {

// The value of each hex digit; -1 for every other character.
constexpr std::array<int8_t, 256> kDigitValues = [] {
  std::array<int8_t, 256> values{};
  for (auto& value : values) value = -1;
  for (int c = '0'; c <= '9'; ++c) values[c] = static_cast<int8_t>(c - '0');
  for (int c = 'a'; c <= 'f'; ++c) values[c] = static_cast<int8_t>(c - 'a' + 10);
  for (int c = 'A'; c <= 'F'; ++c) values[c] = static_cast<int8_t>(c - 'A' + 10);
  return values;
}();

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

}  // namespace

bool HexReader::feed(const char* text, size_t size) {
  const char* const end = text + size;
  for (const char* at = text; at < end; ++at) {
    const char c = *at;
    if (c == '\n') {
      if (!endWord()) return false;
      inComment_ = false;
      sink_.lineEnd();
      ++line_;
      continue;
    }
    if (inComment_) continue;
    if (isSpace(c)) {
      if (!endWord()) return false;
    } else if (c == '#') {
      if (!endWord()) return false;
      inComment_ = true;
    } else {
      word_ += c;
    }
  }
  return true;
}

bool HexReader::finish() {
  return endWord();
}

bool HexReader::endWord() {
  if (word_.empty()) return true;
  if (word_ == "/") {
    sink_.slash();
  } else if (word_ == "//") {
    sink_.doubleSlash();
  } else {
    for (char c : word_) {
      if (kDigitValues[static_cast<unsigned char>(c)] < 0) {
        return fail("is not a hex byte (two hex digits each, or / or //)");
      }
    }
    if (word_.size() % 2 != 0) {
      return fail("ends in a lone nibble (give each byte as two hex digits)");
    }
    Byte bytes[64];
    size_t count = 0;
    for (size_t i = 0; i < word_.size(); i += 2) {
      bytes[count++] = static_cast<Byte>(kDigitValues[static_cast<unsigned char>(word_[i])] * 16 +
                                         kDigitValues[static_cast<unsigned char>(word_[i + 1])]);
      if (count == sizeof bytes) {
        sink_.bytes(bytes, count);
        count = 0;
      }
    }
    if (count > 0) sink_.bytes(bytes, count);
  }
  word_.clear();
  return true;
}

bool HexReader::fail(const std::string& reason) {
  std::string shown =
      word_.size() > kLongestWordShown ? word_.substr(0, kLongestWordShown) + "..." : word_;
  error_ = "\"" + shown + "\" " + reason;
  word_.clear();
  return false;
}

}  // namespace wex
