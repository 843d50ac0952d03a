#include "midiio/MessageFilter.h"

#include <utility>

#include "host/QuotedText.h"

namespace wex {

namespace {

struct Kind {
  const char* name;
  std::vector<uint8_t> statuses;
};

const std::vector<Kind>& kinds() {
  static const std::vector<Kind> table = {
      {"note", {0x80, 0x90}},
      {"noteon", {0x90}},
      {"noteoff", {0x80}},
      {"polypressure", {0xA0}},
      {"cc", {0xB0}},
      {"program", {0xC0}},
      {"channelpressure", {0xD0}},
      {"aftertouch", {0xA0, 0xD0}},
      {"pitchbend", {0xE0}},
      {"channel", {0x80, 0x90, 0xA0, 0xB0, 0xC0, 0xD0, 0xE0}},
      {"sysex", {0xF0}},
      {"mtc", {0xF1}},
      {"songposition", {0xF2}},
      {"songselect", {0xF3}},
      {"tunerequest", {0xF6}},
      {"common", {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7}},
      {"clock", {0xF8}},
      {"start", {0xFA}},
      {"continue", {0xFB}},
      {"stop", {0xFC}},
      {"activesensing", {0xFE}},
      {"reset", {0xFF}},
      {"realtime", {0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF}},
  };
  return table;
}

}  // namespace

std::string MessageFilter::kindNames() {
  std::string names;
  for (const auto& kind : kinds()) names += (names.empty() ? "" : ", ") + std::string(kind.name);
  return names;
}

bool MessageFilter::addKind(const std::string& name, std::string* reason) {
  for (const auto& kind : kinds()) {
    if (name != kind.name) continue;
    anyKind_ = false;
    for (uint8_t status : kind.statuses) kinds_.set(status);
    return true;
  }
  *reason = QuotedText::of(name) + " is not a kind of message; the kinds are " + kindNames();
  return false;
}

bool MessageFilter::passes(const OrvMIDIMessage& message) const {
  const uint8_t type = message.type();
  const bool channelMessage = type < 0xF0;
  const uint8_t status = channelMessage ? static_cast<uint8_t>(type | message.channel()) : type;
  if (leftOut_.test(status)) return false;
  if (!anyKind_ && !kinds_.test(type)) return false;
  if (channelMessage && channel_ && message.channel() != *channel_) return false;
  return true;
}

}  // namespace wex
