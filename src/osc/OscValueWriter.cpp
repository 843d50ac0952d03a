#include "osc/OscValueWriter.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "host/Structure.h"
#include "patches/MessageValue.h"

namespace wex {

namespace {

// A data byte of a message number, 0 for an absent-byte marker.
uint8_t dataByte(uint64_t number, int shift) {
  const uint8_t byte = static_cast<uint8_t>(number >> shift);
  return byte > 0x7F ? 0 : byte;
}

}  // namespace

bool OscValueWriter::carriesMessages(const std::string& portKey) {
  return portKey == "outputMessage" || portKey == "outputMessages" || portKey == "outputMSB" ||
         portKey == "outputLSB";
}

void OscValueWriter::append(lo_message message, const Value& value, bool carriesMessages) {
  if (value.isStructure()) {
    const auto& structure = *value.asStructure();
    for (size_t i = 0; i < structure.count(); ++i) {
      append(message, *structure.at(i), carriesMessages);
    }
    return;
  }
  if (carriesMessages && appendMessage(message, value)) return;
  appendPlain(message, value);
}

void OscValueWriter::appendPlain(lo_message message, const Value& value) {
  switch (value.type()) {
    case Value::Type::None:
      lo_message_add_nil(message);
      break;
    case Value::Type::Boolean:
      if (value.asBoolean()) {
        lo_message_add_true(message);
      } else {
        lo_message_add_false(message);
      }
      break;
    case Value::Type::Index:
      if (value.asIndex() <= static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) {
        lo_message_add_int32(message, static_cast<int32_t>(value.asIndex()));
      } else {
        // OSC's 64-bit integer is signed: larger indexes keep their bits.
        lo_message_add_int64(message, static_cast<int64_t>(value.asIndex()));
      }
      break;
    case Value::Type::Number: {
      const double number = value.asNumber();
      const float single = static_cast<float>(number);
      if (static_cast<double>(single) == number) {
        lo_message_add_float(message, single);
      } else {
        lo_message_add_double(message, number);
      }
      break;
    }
    case Value::Type::String:
      lo_message_add_string(message, value.asString().c_str());
      break;
    case Value::Type::Structure:
      break;  // append() walks structures
  }
}

bool OscValueWriter::appendMessage(lo_message message, const Value& value) {
  if (value.isString()) {
    auto parsed = MessageValue::read(value);
    if (!parsed || !parsed->sysexArray()) return false;
    std::vector<uint8_t> bytes{0xF0};
    for (const int byte : *parsed->sysexArray()) bytes.push_back(static_cast<uint8_t>(byte));
    bytes.push_back(0xF7);
    lo_blob blob = lo_blob_new(static_cast<int32_t>(bytes.size()), bytes.data());
    lo_message_add_blob(message, blob);
    lo_blob_free(blob);
    return true;
  }
  const auto number = MessageValue::messageNumber(value);
  if (!number || !MessageValue::split(*number)) return false;
  uint8_t midi[4] = {0, static_cast<uint8_t>(*number >> 16), dataByte(*number, 8),
                     dataByte(*number, 0)};
  lo_message_add_midi(message, midi);
  return true;
}

}  // namespace wex
