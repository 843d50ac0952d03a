#pragma once

#include <cstddef>
#include <string>

#include "services/MIDITypes.h"

namespace wex {

// Reads the hex text that decode and send take, in pieces of any size: words
// separated by white space, each a run of bytes of two hex digits ("90 3C 64"
// or "903C64"), "/" or "//"; "#" starts a comment that runs to the end of its
// line. What it reads goes to a sink as it comes; only the word being read is
// kept, and a word longer than kMaxWordLength is refused, so memory stays
// small whatever the input's length.
class HexReader {
 public:
  class Sink {
   public:
    virtual ~Sink() = default;
    virtual void bytes(const Byte* data, size_t count) = 0;
    virtual void slash() = 0;        // "/"
    virtual void doubleSlash() = 0;  // "//"
    virtual void lineEnd() = 0;
  };

  // The longest word taken: a run of 1 MiB of bytes.
  static constexpr size_t kMaxWordLength = 2 * 1024 * 1024;

  explicit HexReader(Sink& sink) : sink_(sink) {}

  // False at the first word that is none of the above; error() then says
  // which and why. Nothing of that word reaches the sink; everything before
  // it has. Bytes reach the sink in runs, each before the next "/", "//" or
  // line end and by the time feed() returns.
  bool feed(const char* text, size_t size);
  // The end of the input: ends the last word (not the line).
  bool finish();
  const std::string& error() const { return error_; }
  // 1-based number of the line being read.
  size_t line() const { return line_; }

 private:
  static constexpr size_t kLongestWordShown = 40;
  bool endWord();
  // Keeps the part of a word that a block ends in; false once the word is
  // too long.
  bool keepWordPart(const char* begin, const char* end);
  static std::string tooLong();
  static constexpr const char* kNotAHexByte = "is not a hex byte (two hex digits each, or / or //)";
  // Hands one whole word to the sink; false, with the reason in error_, for
  // a word that is none of the above.
  bool readWord(const char* word, size_t size);
  // Puts the word kept in word_ before the reason.
  bool fail(std::string reason);
  void push(Byte byte) {
    pending_[pendingCount_++] = byte;
    if (pendingCount_ == kPendingCapacity) flush();
  }
  // Hands the bytes read so far to the sink.
  void flush();

  static constexpr size_t kPendingCapacity = 1024;

  Sink& sink_;
  Byte pending_[kPendingCapacity];
  size_t pendingCount_ = 0;
  std::string word_;          // the word being read, or as much as is shown of a refused one
  size_t wordLength_ = 0;     // of the word being read, in parts kept in word_
  bool wordRefused_ = false;  // it holds a character of no word
  bool inComment_ = false;
  size_t line_ = 1;
  std::string error_;
};

}  // namespace wex
