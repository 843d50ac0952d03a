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

}  // namespace
}  // namespace wex
