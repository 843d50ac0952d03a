#pragma once

#include <streambuf>

namespace wex {

// Passes text on to another buffer with its control characters written as
// \xNN, tabs and line ends excepted. Error messages quote what the user gave
// (arguments, input lines, names from other programs); escaped, such text can
// never move the cursor, clear the screen or retitle the user's terminal.
class ControlEscapingBuffer : public std::streambuf {
 public:
  explicit ControlEscapingBuffer(std::streambuf* target) : target_(target) {}
  std::streambuf* target() const { return target_; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  bool put(char c);

  std::streambuf* target_;
};

}  // namespace wex
