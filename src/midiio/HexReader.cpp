#include "midiio/HexReader.h"

#include <algorithm>
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
  const char* at = text;
  while (at < end) {
    const char c = *at;
    // Most words are one byte of two digits: read at once, with the space
    // after it (a line end is left to the loop).
    if (end - at > 2 && word_.empty() && !inComment_ && (isSpace(at[2]) || at[2] == '\n')) {
      const int high = kDigitValues[static_cast<unsigned char>(c)];
      const int low = kDigitValues[static_cast<unsigned char>(at[1])];
      if ((high | low) >= 0) {
        push(static_cast<Byte>(high * 16 + low));
        at += at[2] == '\n' ? 2 : 3;
        continue;
      }
    }
    if (c == '\n') {
      if (!endWord()) return false;
      inComment_ = false;
      flush();
      sink_.lineEnd();
      ++line_;
      ++at;
    } else if (inComment_) {
      ++at;
    } else if (isSpace(c)) {
      if (!endWord()) return false;
      ++at;
    } else if (c == '#') {
      if (!endWord()) return false;
      inComment_ = true;
      ++at;
    } else {
      // The rest of the word: read in place when the block holds all of it.
      const char* stop = at;
      while (stop < end && *stop != '\n' && *stop != '#' && !isSpace(*stop)) ++stop;
      if (stop == end || !word_.empty()) {
        if (!keepWordPart(at, stop)) return false;
      } else if (static_cast<size_t>(stop - at) > kMaxWordLength) {
        word_.assign(at, kLongestWordShown + 1);
        return fail(tooLong());
      } else if (!readWord(at, static_cast<size_t>(stop - at))) {
        word_.assign(at, stop);
        return fail(error_);
      }
      at = stop;
    }
  }
  flush();
  return true;
}

bool HexReader::finish() {
  const bool read = endWord();
  flush();
  return read;
}

bool HexReader::keepWordPart(const char* begin, const char* end) {
  const auto length = static_cast<size_t>(end - begin);
  wordLength_ += length;
  if (wordLength_ > kMaxWordLength) {
    word_.append(begin, std::min(length, kLongestWordShown + 1));
    return fail(tooLong());
  }
  for (const char* at = begin; at < end && !wordRefused_; ++at) {
    wordRefused_ = kDigitValues[static_cast<unsigned char>(*at)] < 0 && *at != '/';
  }
  // A word that is no word is kept only as far as it is shown: its end is
  // awaited, so that the verdict is the same however the text comes.
  const size_t kept =
      wordRefused_
          ? std::min(length, kLongestWordShown + 1 - std::min(word_.size(), kLongestWordShown + 1))
          : length;
  word_.append(begin, kept);
  return true;
}

bool HexReader::endWord() {
  if (word_.empty()) return true;
  if (wordRefused_) return fail(kNotAHexByte);
  if (!readWord(word_.data(), word_.size())) return fail(error_);
  word_.clear();
  wordLength_ = 0;
  return true;
}

std::string HexReader::tooLong() {
  return "is longer than " + std::to_string(kMaxWordLength) +
         " characters (put spaces or line ends between bytes)";
}

bool HexReader::readWord(const char* word, size_t size) {
  if (size == 1 && word[0] == '/') {
    flush();
    sink_.slash();
    return true;
  }
  if (size == 2 && word[0] == '/' && word[1] == '/') {
    flush();
    sink_.doubleSlash();
    return true;
  }
  for (size_t i = 0; i < size; ++i) {
    if (kDigitValues[static_cast<unsigned char>(word[i])] < 0) {
      error_ = kNotAHexByte;
      return false;
    }
  }
  if (size % 2 != 0) {
    error_ = "ends in a lone nibble (give each byte as two hex digits)";
    return false;
  }
  for (size_t i = 0; i < size; i += 2) {
    push(static_cast<Byte>(kDigitValues[static_cast<unsigned char>(word[i])] * 16 +
                           kDigitValues[static_cast<unsigned char>(word[i + 1])]));
  }
  return true;
}

void HexReader::flush() {
  if (pendingCount_ == 0) return;
  sink_.bytes(pending_, pendingCount_);
  pendingCount_ = 0;
}

bool HexReader::fail(std::string reason) {
  flush();
  std::string shown =
      word_.size() > kLongestWordShown ? word_.substr(0, kLongestWordShown) + "..." : word_;
  error_ = "\"" + shown + "\" " + reason;
  word_.clear();
  wordLength_ = 0;
  wordRefused_ = false;
  return false;
}

}  // namespace wex
