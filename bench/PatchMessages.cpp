#include "PatchMessages.h"

#include <cstdint>
#include <vector>

#include "host/QCPlugInClass.h"
#include "patches/WexPatches.h"

namespace wex::bench {

OrvMIDIMessageList patchMessages(size_t count) {
  OrvMIDIMessageList messages;
  messages.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const auto low = static_cast<uint8_t>(i & 0x7F);
    const auto channel = static_cast<uint8_t>(i % 16);
    if (i % 50 == 49) {
      std::vector<int32_t> sysex{0x7D, low, 1, 2, 3, 4, 5, 6};
      messages.push_back(OrvMIDIMessage::createWithSysexArray(sysex));
    } else if (i % 4 == 0) {
      messages.push_back(OrvMIDIMessage::createFromVals(0x90, channel, low, 100));
    } else if (i % 4 == 1) {
      messages.push_back(OrvMIDIMessage::createFromVals(0x80, channel, low, 64));
    } else if (i % 4 == 2) {
      messages.push_back(OrvMIDIMessage::createFromVals(0xB0, channel, 7, low));
    } else {
      messages.push_back(OrvMIDIMessage::createFromVals(0xE0, channel, low, 0x40));
    }
  }
  return messages;
}

PatchMaker::PatchMaker() {
  registerWexPatches(registry_);
}

std::shared_ptr<QCPlugIn> PatchMaker::makePatch(const char* className) const {
  const QCPlugInClass* plugInClass = registry_.classNamed(className);
  return plugInClass ? plugInClass->createInstance() : nullptr;
}

}  // namespace wex::bench
