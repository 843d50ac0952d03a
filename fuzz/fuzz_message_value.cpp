// Reads message values made from the input (sysex strings, numbers, indexes)
// and checks what comes out: a well-formed message that writes back to a
// value reading as the same message, or no message for what carries none.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "midi/OrvMIDIMessage.h"
#include "patches/MessageValue.h"
#include "support/SystemLog.h"

namespace {

using wex::MessageValue;
using wex::OrvMIDIMessage;
using wex::Value;

void fail(const char* what, const OrvMIDIMessage* message = nullptr) {
  std::fprintf(stderr, "fuzz_message_value: %s\n", what);
  if (message) std::fprintf(stderr, "  message: %s\n", message->description().c_str());
  std::abort();
}

bool sameMessage(const OrvMIDIMessage& a, const OrvMIDIMessage& b) {
  if (a.type() != b.type() || a.channel() != b.channel() || a.data1() != b.data1() ||
      a.data2() != b.data2()) {
    return false;
  }
  if (!a.sysexArray() || !b.sysexArray()) return !a.sysexArray() && !b.sysexArray();
  return *a.sysexArray() == *b.sysexArray();
}

void checkRoundTrip(const OrvMIDIMessage& message) {
  const Value written = MessageValue::write(message);
  const auto reread = MessageValue::read(written);
  if (!reread) fail("a written message value does not read back", &message);
  if (!sameMessage(message, *reread)) fail("a written message value reads back changed", &message);
}

void checkSysexText(const std::string& text) {
  std::string whyNot;
  const auto message = MessageValue::read(Value::string(text), &whyNot);
  if (!message) {
    if (whyNot.empty()) fail("a refused text without a reason");
    return;
  }
  if (message->type() != 0xF0 || !message->sysexArray()) fail("a text read as no sysex", &*message);
  size_t pieces = 1;
  for (char c : text) pieces += c == ',';
  if (message->sysexArray()->size() != pieces) fail("sysex bytes and pieces differ", &*message);
  for (int32_t byte : *message->sysexArray()) {
    if (byte < 0 || byte > 0x7F) fail("a sysex byte outside 0 to 127", &*message);
  }
  checkRoundTrip(*message);
}

void checkNumber(const Value& value, uint64_t n, bool inRange) {
  std::string whyNot;
  const auto message = MessageValue::read(value, &whyNot);
  const unsigned status = (n >> 16) & 0xFF;
  const bool carriesMessage = inRange && status >= 0x80 && status != 0xF0 && status != 0xF7;
  if (!message) {
    if (carriesMessage) fail("a message number yielded no message");
    if (whyNot.empty()) fail("a refused number without a reason");
    return;
  }
  if (!carriesMessage) fail("a number that carries no message yielded one", &*message);
  if (message->sysexArray()) fail("a number read as sysex", &*message);
  if ((message->type() | message->channel()) != status) fail("status byte changed", &*message);
  if (message->data1() != ((n >> 8) & 0x7F) || message->data2() != (n & 0x7F)) {
    fail("data bytes not read as the low 7 bits", &*message);
  }
  checkRoundTrip(*message);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* quiet = new wex::SystemLog::Capture;  // refusals log their reasons
  quiet->clear();
  FuzzedDataProvider input(data, size);
  switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
      checkSysexText(input.ConsumeRemainingBytesAsString());
      break;
    case 1: {
      const double number = input.ConsumeFloatingPoint<double>();
      const bool inRange = std::isfinite(number) && number >= 0 && number < 18446744073709551616.0;
      checkNumber(Value::number(number), inRange ? static_cast<uint64_t>(number) : 0, inRange);
      break;
    }
    default: {
      const uint64_t index = input.ConsumeIntegral<uint64_t>();
      checkNumber(Value::index(index), index, true);
      break;
    }
  }
  return 0;
}
