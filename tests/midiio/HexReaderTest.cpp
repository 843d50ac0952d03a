#include <gtest/gtest.h>

#include <string>

#include "midiio/HexReader.h"

namespace wex {
namespace {

// The events as text: each byte in hex and a space, "/ ", "// " and "\n".
class Recorder : public HexReader::Sink {
 public:
  void bytes(const Byte* data, size_t count) override {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
      events += kDigits[data[i] >> 4];
      events += kDigits[data[i] & 0xF];
      events += ' ';
    }
  }
  void slash() override { events += "/ "; }
  void doubleSlash() override { events += "// "; }
  void lineEnd() override { events += "\n"; }
  std::string events;
};

struct ReadCase {
  std::string text;
  std::string events;  // what reaches the sink, up to the refused word if any
  std::string error;   // empty when the text reads cleanly
};

// Whole, and one character at a time: the two-digit words are read by a
// shortcut only when the block holds the character after them, so the second
// reading takes the general path throughout.
std::string read(const std::string& text, bool oneByOne, std::string* error) {
  Recorder recorder;
  HexReader reader(recorder);
  bool ok = true;
  if (oneByOne) {
    for (size_t i = 0; ok && i < text.size(); ++i) ok = reader.feed(&text[i], 1);
  } else {
    ok = reader.feed(text.data(), text.size());
  }
  if (ok) ok = reader.finish();
  *error = ok ? "" : reader.error();
  return recorder.events;
}

TEST(HexReader, ReadsTheSameEventsWholeAndOneCharacterAtATime) {
  const ReadCase cases[] = {
      {"90 3C 64\n", "90 3C 64 \n", ""},
      {"90 3c 64", "90 3C 64 ", ""},
      {"903C64 F8\tFE\r\n", "90 3C 64 F8 FE \n", ""},
      {"90 3C / 64 // F8\n", "90 3C / 64 // F8 \n", ""},
      {"90 # 3C 64\nF8 \n", "90 \nF8 \n", ""},
      {"#90 3C\n\n  \n", "\n\n\n", ""},
      {"90 3C 6\n", "90 3C ", "\"6\" ends in a lone nibble (give each byte as two hex digits)"},
      {"90 3C 6G 64", "90 3C ", "\"6G\" is not a hex byte (two hex digits each, or / or //)"},
      {"90\n3C ///\n", "90 \n3C ", "\"///\" is not a hex byte (two hex digits each, or / or //)"},
  };
  for (const ReadCase& c : cases) {
    for (bool oneByOne : {false, true}) {
      std::string error;
      EXPECT_EQ(read(c.text, oneByOne, &error), c.events) << c.text << " one by one: " << oneByOne;
      EXPECT_EQ(error, c.error) << c.text << " one by one: " << oneByOne;
    }
  }
}

}  // namespace
}  // namespace wex
