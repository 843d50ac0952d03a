#include <gtest/gtest.h>

#include "app/MessageFormat.h"
#include "patches/MessageValue.h"

namespace wex {
namespace {

// The fast columns must print exactly what the message's own descriptions
// and message value say, for every status and a spread of data bytes.
TEST(MessageFormat, PrintsWhatTheMessageItselfDescribesForEveryStatus) {
  const uint8_t dataBytes[] = {0, 1, 0x3C, 0x7F, 0x80, 0xFE, 0xFF};
  for (int status = 0x80; status <= 0xFF; ++status) {
    const uint8_t type = status < 0xF0 ? static_cast<uint8_t>(status & 0xF0) : status;
    const uint8_t channel = status < 0xF0 ? static_cast<uint8_t>(status & 0x0F) : 0;
    for (uint8_t data1 : dataBytes) {
      for (uint8_t data2 : dataBytes) {
        auto message = OrvMIDIMessage::createFromVals(type, channel, data1, data2);
        std::string text, value;
        MessageFormat::appendText(text, *message);
        MessageFormat::appendValue(value, *message);
        EXPECT_EQ(text, message->lengthyDescription().value_or(message->description()));
        const Value written = MessageValue::write(*message);
        EXPECT_EQ(value, written.isString()
                             ? written.asString()
                             : std::to_string(static_cast<uint64_t>(written.toDouble())));
      }
    }
  }
  auto sysex = OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>{126, 0, 127});
  std::string text, value, hex;
  MessageFormat::appendText(text, *sysex);
  MessageFormat::appendValue(value, *sysex);
  MessageFormat::appendHex(hex, *sysex);
  EXPECT_EQ(text, *sysex->lengthyDescription());
  EXPECT_EQ(value, MessageValue::write(*sysex).asString());
  EXPECT_EQ(hex, "F0 7E 00 7F F7");
}

}  // namespace
}  // namespace wex
