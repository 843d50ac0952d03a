// Feeds the read callback a sequence of packet lists built from the input and
// checks every delivered message, the count of messages per callback and the
// size of the sysex accumulator.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketListBuffer.h"
#include "support/SystemLog.h"

namespace {

using wex::Byte;
using wex::OrvMIDIMessage;
using wex::OrvMIDIMessageList;

// Callbacks that may feed one open sysex: the one that opened it and 128 more.
constexpr size_t kSysexCallbackWindow = 129;

void fail(const char* what, const OrvMIDIMessage* message = nullptr) {
  std::fprintf(stderr, "fuzz_read_proc: %s\n", what);
  if (message) std::fprintf(stderr, "  message: %s\n", message->description().c_str());
  std::abort();
}

bool isDataOrMarker(uint8_t value, uint8_t marker) {
  return value <= 0x7F || value == marker;
}

void checkMessage(const OrvMIDIMessage* message) {
  if (!message) fail("a null message was delivered");
  const uint8_t type = message->type();
  if (type == 0xF0) {
    const auto* sysex = message->sysexArray();
    if (!sysex || sysex->empty()) fail("a sysex message without bytes", message);
    for (int32_t byte : *sysex) {
      if (byte < 0 || byte > 0x7F) fail("a sysex byte outside 0 to 127", message);
    }
    if (message->channel() != 0xFF) fail("a sysex message with a channel", message);
    return;
  }
  if (message->sysexArray()) fail("a non-sysex message with sysex bytes", message);
  if (type < 0x80 || type == 0xF7) fail("a message of a type the parser never makes", message);
  if (type < 0xF0 && ((type & 0x0F) != 0 || message->channel() > 0x0F)) {
    fail("a channel message whose type and channel overlap", message);
  }
  if (type > 0xF0 && message->channel() != 0) fail("a system message with a channel", message);
  if (type == 0x90 && message->data2() == 0) fail("a note on with velocity 0", message);
  if (!isDataOrMarker(message->data1(), OrvMIDIMessage::kAbsentData1) ||
      !isDataOrMarker(message->data2(), OrvMIDIMessage::kAbsentData2)) {
    fail("a data byte above 0x7F that is no marker", message);
  }
}

class CheckingNode : public wex::OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    if (messages.empty()) fail("an empty list was delivered");
    if (delivered_) fail("two deliveries in one callback");
    delivered_ = &messages;
    for (const auto& message : messages) checkMessage(message.get());
    countDelivered(messages);
  }

  // Runs one callback and checks it against the bytes it was given.
  void callback(const wex::MIDIPacketListBuffer& list, const std::vector<Byte>& bytes) {
    delivered_ = nullptr;
    nonSysexDelivered_ = 0;
    sysexDelivered_ = 0;
    wex::myMIDIReadProc(list.list(), static_cast<wex::OrvMIDIReadTarget*>(this), nullptr);
    checkCounts(bytes);
    checkSysexState(bytes.size());
  }

 private:
  void countDelivered(const OrvMIDIMessageList& messages) {
    for (const auto& message : messages) {
      if (message->type() == 0xF0) {
        ++sysexDelivered_;
      } else {
        ++nonSysexDelivered_;
      }
    }
  }

  // Every status byte but 0xF0 and 0xF7 makes exactly one message; a sysex
  // message needs a 0xF7.
  void checkCounts(const std::vector<Byte>& bytes) {
    size_t statusBytes = 0;
    size_t sysexEnds = 0;
    for (Byte b : bytes) {
      if (b == 0xF7) {
        ++sysexEnds;
      } else if (b >= 0x80 && b != 0xF0) {
        ++statusBytes;
      }
    }
    if (nonSysexDelivered_ != statusBytes) fail("messages and status bytes do not match");
    if (sysexDelivered_ > sysexEnds) fail("more sysex messages than 0xF7 bytes");
  }

  // A closed sysex keeps its bytes until the next 0xF0, so the accumulator
  // may hold what arrived long ago, but never more than the callbacks that
  // may feed one sysex can carry.
  void checkSysexState(size_t bytesThisCallback) {
    largestCallback_ = std::max(largestCallback_, bytesThisCallback);
    if (sysexArray().size() > kSysexCallbackWindow * largestCallback_) {
      fail("the sysex accumulator outgrew the callbacks of one sysex");
    }
    if (processingSysexIterationCount() < 0 || processingSysexIterationCount() > 128)
      fail("the sysex callback count left 0 to 128");
    if (!processingSysex() && processingSysexIterationCount() != 0)
      fail("a closed sysex state kept a count");
    for (int32_t byte : sysexArray()) {
      if (byte < 0 || byte > 0x7F) fail("a status byte in the sysex accumulator");
    }
  }

  const OrvMIDIMessageList* delivered_ = nullptr;
  size_t nonSysexDelivered_ = 0;
  size_t sysexDelivered_ = 0;
  size_t largestCallback_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* quiet = new wex::SystemLog::Capture;  // the BAIL lines are expected
  quiet->clear();
  FuzzedDataProvider input(data, size);
  CheckingNode node;
  while (input.remaining_bytes() > 0) {
    // Now and then a run of empty lists, to reach the limit on open callbacks.
    const int emptyLists = input.ConsumeBool() ? input.ConsumeIntegralInRange(0, 140) : 0;
    wex::MIDIPacketListBuffer empty(wex::kMIDIPacketListHeaderSize);
    for (int i = 0; i < emptyLists; ++i) node.callback(empty, {});

    const int packets = input.ConsumeIntegralInRange(0, 8);
    std::vector<std::vector<Byte>> packetBytes;
    std::vector<Byte> all;
    wex::ByteCount listSize = wex::kMIDIPacketListHeaderSize;
    for (int i = 0; i < packets; ++i) {
      const size_t length = input.ConsumeIntegralInRange<size_t>(0, 300);
      packetBytes.push_back(input.ConsumeBytes<Byte>(length));
      all.insert(all.end(), packetBytes.back().begin(), packetBytes.back().end());
      listSize += wex::kMIDIPacketHeaderSize + packetBytes.back().size();
    }
    wex::MIDIPacketListBuffer list(listSize);
    for (const auto& bytes : packetBytes) {
      if (!list.addPacket(bytes)) fail("the packet list had no room");
    }
    node.callback(list, all);
  }
  return 0;
}
