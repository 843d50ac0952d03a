#include <gtest/gtest.h>

#include "midiio/MessageFormat.h"
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
        char plain[MessageFormat::kMaxPlainLength];
        if (char* end = MessageFormat::writePlain(plain, *message)) {
          EXPECT_EQ(std::string(plain, static_cast<size_t>(end - plain)), value + "\t" + text);
        } else {
          EXPECT_TRUE(type == 0xF0 || !message->lengthyDescription()) << status;
        }
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
  for (const auto& bytes : {std::vector<int32_t>{}, std::vector<int32_t>{5},
                            std::vector<int32_t>{126, 0, 127, 100, 9, 10}}) {
    auto message = OrvMIDIMessage::createWithSysexArray(&bytes);
    if (!message) continue;  // an empty list makes no message
    std::string line;
    MessageFormat::appendValue(line, *message);
    line += '\t';
    MessageFormat::appendText(line, *message);
    std::string written(MessageFormat::maxSysexLength(*message), '\0');
    char* end = MessageFormat::writeSysex(written.data(), *message);
    ASSERT_NE(end, nullptr);
    EXPECT_EQ(written.substr(0, static_cast<size_t>(end - written.data())), line);
  }
}

}  // namespace
}  // namespace wex
