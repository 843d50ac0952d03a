#pragma once

#include <mutex>
#include <streambuf>
#include <string>

namespace wex {

// Passes text on to another buffer with its control characters written as
// \xNN, tabs and line ends excepted. Error messages quote what the user gave
// (arguments, input lines, names from other programs); escaped, such text can
// never move the cursor, clear the screen or retitle the user's terminal.
//
// The escaped text is gathered and handed on in pieces of kPieceLength and
// at each flush, so that a long message reaches an unbuffered target (the
// standard error) in a few writes rather than one a character. Threads may
// write at once: one lock keeps the gathered text.
class ControlEscapingBuffer : public std::streambuf {
 public:
  static constexpr size_t kPieceLength = 4096;

  explicit ControlEscapingBuffer(std::streambuf* target) : target_(target) {}
  ~ControlEscapingBuffer() override;
  std::streambuf* target() const { return target_; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  void append(const char* text, size_t count);
  // Hands the gathered text on; false when the target does not take it all.
  bool handOn();

  std::streambuf* const target_;
  std::mutex mutex_;
  std::string gathered_;  // escaped, not yet handed on; under mutex_
};

}  // namespace wex
