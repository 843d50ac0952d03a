#include "osc/OscPacketReader.h"

#include <cstring>
#include <string>

namespace wex {

namespace {

constexpr char kBundleHead[8] = {'#', 'b', 'u', 'n', 'd', 'l', 'e', '\0'};
constexpr size_t kBundleHeadSize = 16;  // "#bundle\0" and the time tag

uint32_t bigEndian32(const uint8_t* data) {
  return (uint32_t{data[0]} << 24) | (uint32_t{data[1]} << 16) | (uint32_t{data[2]} << 8) |
         uint32_t{data[3]};
}

// The bytes a message with this status byte has, data bytes included; 0 for
// a status that does not start a message of its own (a data byte, sysex).
size_t messageLength(uint8_t status) {
  if (status < 0x80 || status == 0xF0 || status == 0xF7) return 0;
  if (status < 0xF0) {
    const uint8_t type = status & 0xF0;
    return type == 0xC0 || type == 0xD0 ? 2 : 3;
  }
  if (status == 0xF2) return 3;
  if (status == 0xF1 || status == 0xF3) return 2;
  return 1;
}

// An argument's bytes: liblo aligns arguments to 4 bytes only, so they are
// copied out rather than read through lo_arg's members.
const uint8_t* bytesOf(const lo_arg* argument) {
  return reinterpret_cast<const uint8_t*>(argument);
}

template <typename T>
T copied(const lo_arg* argument) {
  T value;
  std::memcpy(&value, argument, sizeof value);
  return value;
}

// An integer as JSON reads it: unsigned when it is not negative.
ValueJSON::Json integer(int64_t number) {
  if (number >= 0) return ValueJSON::Json(static_cast<uint64_t>(number));
  return ValueJSON::Json(number);
}

std::string typeText(char type) {
  return std::string("'") + type + "'";
}

// The bytes of one system exclusive message, F0 to F7, as a sysex string.
bool sysexString(const lo_blob blob, std::string* text) {
  const auto size = static_cast<size_t>(lo_blob_datasize(blob));
  const auto* bytes = static_cast<const uint8_t*>(lo_blob_dataptr(blob));
  if (size < 3 || bytes[0] != 0xF0 || bytes[size - 1] != 0xF7) return false;
  text->clear();
  for (size_t i = 1; i + 1 < size; ++i) {
    if (bytes[i] > 0x7F) return false;
    if (i > 1) *text += ",";
    *text += std::to_string(bytes[i]);
  }
  return true;
}

}  // namespace

void OscPacketReader::read(const uint8_t* data, size_t size, std::vector<OscRequest>* requests,
                           std::vector<OscRefusal>* refusals) {
  readElement(data, size, 0, requests, refusals);
}

void OscPacketReader::readElement(const uint8_t* data, size_t size, int depth,
                                  std::vector<OscRequest>* requests,
                                  std::vector<OscRefusal>* refusals) {
  if (size >= sizeof kBundleHead && std::memcmp(data, kBundleHead, sizeof kBundleHead) == 0) {
    readBundle(data, size, depth, requests, refusals);
  } else {
    readMessage(data, size, requests, refusals);
  }
}

void OscPacketReader::readBundle(const uint8_t* data, size_t size, int depth,
                                 std::vector<OscRequest>* requests,
                                 std::vector<OscRefusal>* refusals) {
  if (depth >= kMaxBundleDepth) {
    refusals->push_back(
        {"", "bundles nested more than " + std::to_string(kMaxBundleDepth) + " deep"});
    return;
  }
  if (size < kBundleHeadSize) {
    refusals->push_back({"", "a bundle cut short in its time tag"});
    return;
  }
  // Each element: its length (32 bits, big-endian, a multiple of 4), then
  // that many bytes.
  for (size_t at = kBundleHeadSize; at < size;) {
    if (size - at < 4) {
      refusals->push_back({"", "a bundle element cut short in its length"});
      return;
    }
    const size_t length = bigEndian32(data + at);
    at += 4;
    if (length > size - at || length % 4 != 0) {
      refusals->push_back({"", "a bundle element whose length does not fit the packet"});
      return;
    }
    readElement(data + at, length, depth + 1, requests, refusals);
    at += length;
  }
}

void OscPacketReader::readMessage(const uint8_t* data, size_t size,
                                  std::vector<OscRequest>* requests,
                                  std::vector<OscRefusal>* refusals) {
  // liblo reads from memory it may write to: a copy of the message's bytes.
  std::vector<uint8_t> copy(data, data + size);
  int result = 0;
  lo_message message = size == 0 ? nullptr : lo_message_deserialise(copy.data(), size, &result);
  if (!message) {
    refusals->push_back({"", "not an OSC message (liblo error " + std::to_string(result) + ")"});
    return;
  }
  // liblo has checked the path: a terminated string within the message.
  const std::string address(reinterpret_cast<const char*>(copy.data()));
  OscRequest read;
  std::string cause;
  if (request(address, message, &read, &cause)) {
    requests->push_back(std::move(read));
  } else {
    refusals->push_back({address, cause});
  }
  lo_message_free(message);
}

bool OscPacketReader::request(const std::string& address, lo_message message, OscRequest* request,
                              std::string* cause) {
  request->address = address;
  if (address == kSendAddress) {
    request->kind = OscRequest::Kind::Send;
    return sendMessages(message, &request->messages, cause);
  }
  const std::string prefix = kPrefix;
  const size_t slash = address.find('/', prefix.size());
  const bool inPrefix = address.compare(0, prefix.size(), prefix) == 0;
  if (!inPrefix || slash == std::string::npos || slash == prefix.size() ||
      slash + 1 == address.size() || address.find('/', slash + 1) != std::string::npos) {
    *cause = "no such address: expected /wexmidi/PATCH/PORT or /wexmidi/send";
    return false;
  }
  request->kind = OscRequest::Kind::Set;
  request->input =
      address.substr(prefix.size(), slash - prefix.size()) + "." + address.substr(slash + 1);
  return setValue(message, &request->value, cause);
}

bool OscPacketReader::setValue(lo_message message, ValueJSON::Json* value, std::string* cause) {
  const int count = lo_message_get_argc(message);
  const char* types = lo_message_get_types(message);
  lo_arg** arguments = lo_message_get_argv(message);
  if (count == 0) {
    *cause = "no value: give the input's value as arguments";
    return false;
  }
  ValueJSON::Json items = ValueJSON::Json::array();
  for (int i = 0; i < count; ++i) {
    const lo_arg* argument = arguments[i];
    switch (types[i]) {
      case LO_TRUE:
        items.push_back(true);
        break;
      case LO_FALSE:
        items.push_back(false);
        break;
      case LO_NIL:
        items.push_back(nullptr);
        break;
      case LO_INT32:
        items.push_back(integer(copied<int32_t>(argument)));
        break;
      case LO_INT64:
        items.push_back(integer(copied<int64_t>(argument)));
        break;
      case LO_FLOAT:
        items.push_back(static_cast<double>(copied<float>(argument)));
        break;
      case LO_DOUBLE:
        items.push_back(copied<double>(argument));
        break;
      case LO_STRING:
      case LO_SYMBOL:
        items.push_back(std::string(reinterpret_cast<const char*>(argument)));
        break;
      case LO_CHAR:
        items.push_back(std::string(1, static_cast<char>(copied<int32_t>(argument))));
        break;
      case LO_MIDI: {
        const uint8_t* midi = bytesOf(argument);
        items.push_back((uint32_t{midi[1]} << 16) | (uint32_t{midi[2]} << 8) | uint32_t{midi[3]});
        break;
      }
      case LO_BLOB: {
        std::string text;
        if (!sysexString(reinterpret_cast<lo_blob>(arguments[i]), &text)) {
          *cause = "a blob must hold one system exclusive message, F0 to F7";
          return false;
        }
        items.push_back(text);
        break;
      }
      default:
        *cause = "an argument of type " + typeText(types[i]) + " has no value here";
        return false;
    }
  }
  if (count == 1) {
    *value = items[0];
  } else {
    *value = std::move(items);
  }
  return true;
}

bool OscPacketReader::sendMessages(lo_message message, std::vector<std::vector<uint8_t>>* messages,
                                   std::string* cause) {
  const int count = lo_message_get_argc(message);
  const char* types = lo_message_get_types(message);
  lo_arg** arguments = lo_message_get_argv(message);
  if (count == 0) {
    *cause = "no messages: give MIDI (m) or blob arguments";
    return false;
  }
  for (int i = 0; i < count; ++i) {
    if (types[i] == LO_MIDI) {
      const uint8_t* midi = bytesOf(arguments[i]);
      const size_t length = messageLength(midi[1]);
      if (length == 0) {
        *cause =
            "a MIDI (m) argument must start with a status byte other than F0 and F7 "
            "(send system exclusive as a blob)";
        return false;
      }
      messages->emplace_back(midi + 1, midi + 1 + length);
    } else if (types[i] == LO_BLOB) {
      const auto blob = reinterpret_cast<lo_blob>(arguments[i]);
      const auto* bytes = static_cast<const uint8_t*>(lo_blob_dataptr(blob));
      if (lo_blob_datasize(blob) == 0) {
        *cause = "an empty blob: a blob holds the bytes of MIDI messages";
        return false;
      }
      messages->emplace_back(bytes, bytes + lo_blob_datasize(blob));
    } else {
      *cause = "takes MIDI (m) or blob arguments, got one of type " + typeText(types[i]);
      return false;
    }
  }
  return true;
}

}  // namespace wex
