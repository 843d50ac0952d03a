#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

#include "app/ControlEscapingBuffer.h"

namespace wex {
namespace {

// The text written at once, then again a character at a time.
std::string throughBuffer(const std::string& text) {
  std::ostringstream target;
  ControlEscapingBuffer escaping(target.rdbuf());
  std::ostream out(&escaping);
  out << text;
  for (char c : text) out.put(c);
  out.flush();
  return target.str();
}

TEST(ControlEscapingBuffer, WritesControlCharactersAsHexAndKeepsTheRest) {
  const struct {
    std::string given;
    std::string shown;
  } cases[] = {
      {"plain text\n", "plain text\n"},      {"\ttab kept", "\ttab kept"},
      {"\x1b[2Jcleared", "\\x1b[2Jcleared"}, {std::string("nul\0", 4), "nul\\x00"},
      {"bell\a\r", "bell\\x07\\x0d"},        {"del\x7f", "del\\x7f"},
      {"caf\xc3\xa9", "caf\xc3\xa9"},  // UTF-8 passes as it is
  };
  for (const auto& c : cases) EXPECT_EQ(throughBuffer(c.given), c.shown + c.shown) << c.given;
}

// Counts the pieces handed to it.
class CountingBuffer : public std::stringbuf {
 public:
  size_t pieces = 0;

 protected:
  int_type overflow(int_type ch) override {
    ++pieces;
    return std::stringbuf::overflow(ch);
  }
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    ++pieces;
    return std::stringbuf::xsputn(text, count);
  }
};

TEST(ControlEscapingBuffer, HandsALongTextOnInPiecesNotACharacterAtATime) {
  const std::string name(1024 * 1024, 'n');
  CountingBuffer target;
  ControlEscapingBuffer escaping(&target);
  std::ostream out(&escaping);
  out << "no patch \"" << name << std::string("\0\"", 2) << std::endl;
  EXPECT_EQ(target.str(), "no patch \"" + name + "\\x00\"\n");
  // (the string buffer grows through overflow too, counted as well)
  EXPECT_LE(target.pieces, 2 * name.size() / ControlEscapingBuffer::kPieceLength + 8);
}

}  // namespace
}  // namespace wex
