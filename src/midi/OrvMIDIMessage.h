#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "midi/OrvMIDIMessagePool.h"
#include "services/MIDIStatus.h"
#include "services/MIDITypes.h"

namespace wex {

class OrvMIDIMessage;

// A shared message: the count of owners lives in the message itself, so that
// making one takes a block of the message pool and nothing else, and the last
// owner gives the block back. Copies may be used and released on any thread.
class OrvMIDIMessagePtr {
 public:
  OrvMIDIMessagePtr() = default;
  OrvMIDIMessagePtr(std::nullptr_t) {}
  OrvMIDIMessagePtr(const OrvMIDIMessagePtr& other);
  OrvMIDIMessagePtr(OrvMIDIMessagePtr&& other) noexcept
      : message_(std::exchange(other.message_, nullptr)) {}
  OrvMIDIMessagePtr& operator=(OrvMIDIMessagePtr other) noexcept {
    std::swap(message_, other.message_);
    return *this;
  }
  ~OrvMIDIMessagePtr();

  OrvMIDIMessage* get() const { return message_; }
  OrvMIDIMessage& operator*() const { return *message_; }
  OrvMIDIMessage* operator->() const { return message_; }
  explicit operator bool() const { return message_ != nullptr; }
  void reset() { OrvMIDIMessagePtr().swap(*this); }
  void swap(OrvMIDIMessagePtr& other) noexcept { std::swap(message_, other.message_); }

  friend bool operator==(const OrvMIDIMessagePtr& a, const OrvMIDIMessagePtr& b) {
    return a.message_ == b.message_;
  }
  friend bool operator==(const OrvMIDIMessagePtr& a, std::nullptr_t) { return !a.message_; }

 private:
  friend class OrvMIDIMessage;
  // Takes over the one reference a new message starts with.
  explicit OrvMIDIMessagePtr(OrvMIDIMessage* adopted) : message_(adopted) {}

  OrvMIDIMessage* message_ = nullptr;
};

// One MIDI message: a type, a channel and two data bytes, plus the data bytes
// of a system exclusive message. For a channel message `type` holds only the
// status byte's high nibble and `channel` its low nibble; a system message
// keeps its whole status byte in `type`.
class OrvMIDIMessage {
  struct Key {
    explicit Key() = default;
  };

 public:
  // Kept in data1 and data2 for the data bytes a message has not received.
  static constexpr uint8_t kAbsentData1 = 0xFF;
  static constexpr uint8_t kAbsentData2 = 0xFE;

  // A message with absent-byte markers in data1 and data2. Inline, as the
  // read callback makes one for nearly every status byte.
  static OrvMIDIMessagePtr createWithType(uint8_t type, uint8_t channel) {
    return make(type, channel, kAbsentData1, kAbsentData2);
  }
  static OrvMIDIMessagePtr createFromVals(uint8_t type, uint8_t channel, uint8_t data1,
                                          uint8_t data2) {
    return make(type, channel, data1, data2);
  }
  // A system exclusive message holding its own copy of the bytes; null (with a
  // log line) for a null or empty list or an element outside 0 to 127.
  static OrvMIDIMessagePtr createWithSysexArray(const std::vector<int32_t>* array);
  static OrvMIDIMessagePtr createWithSysexArray(const std::vector<int32_t>& array);
  // For the parser, whose accumulator holds data bytes only: the same
  // message without checking each element again.
  static OrvMIDIMessagePtr createWithParsedSysex(const std::vector<int32_t>& dataBytes);

  OrvMIDIMessage(Key, uint8_t type, uint8_t channel, uint8_t data1, uint8_t data2)
      : status_(type | channel), data1_(data1), data2_(data2), type_(type), channel_(channel) {}
  OrvMIDIMessage(Key, std::vector<int32_t> sysex);

  uint8_t type() const { return type_; }
  uint8_t channel() const { return channel_; }
  uint8_t data1() const { return data1_; }
  uint8_t data2() const { return data2_; }
  // What a sender reads of a short message, in one load: from the lowest
  // byte up the status byte it goes out with (type | channel), data1, data2
  // and the type. Its low three bytes masked with 0x7F7FFF are the wire bytes.
  uint32_t fields() const {
    return uint32_t{status_} | uint32_t{data1_} << 8 | uint32_t{data2_} << 16 |
           uint32_t{type_} << 24;
  }
  void setType(uint8_t type) {
    type_ = type;
    status_ = type | channel_;
  }
  void setData1(uint8_t data1) { data1_ = data1; }
  void setData2(uint8_t data2) { data2_ = data2; }

  // The data bytes of a system exclusive message; null for every other one.
  const std::vector<int32_t>* sysexArray() const { return sysex_ ? &*sysex_ : nullptr; }

  // A new message with the same fields; a sysex message is validated again,
  // so a copy can be null.
  OrvMIDIMessagePtr copy() const;

  std::string description() const;
  // A readable line for the known types; nothing for the others.
  std::optional<std::string> lengthyDescription() const;

  // Number of bytes the message goes out as on the wire.
  size_t wireLength() const {
    if (type_ == kMIDISysexStart) return (sysex_ ? sysex_->size() : 0) + 2;
    return 1 + wireDataCount();
  }
  // Writes those bytes to `out` (room for wireLength() bytes); returns the count.
  // Inline for the short messages: senders call it for every message.
  size_t writeWireBytes(Byte* out) const {
    if (type_ == kMIDISysexStart) return writeSysexWireBytes(out);
    const size_t dataCount = wireDataCount();
    out[0] = status_;
    // A data byte always goes out below 0x80: an absent-byte marker sent as it
    // is would reach the wire as a status byte (0xFF is a system reset).
    if (dataCount >= 1) out[1] = data1_ & kMIDIDataMask;
    if (dataCount >= 2) out[2] = data2_ & kMIDIDataMask;
    return 1 + dataCount;
  }

 private:
  friend class OrvMIDIMessagePtr;
  // Messages take a block of the pool: the read callback makes one per message.
  template <class... Args>
  static OrvMIDIMessagePtr make(Args&&... args) {
    static_assert(sizeof(OrvMIDIMessage) <= OrvMIDIMessagePool::kBlockSize);
    static_assert(alignof(OrvMIDIMessage) <= alignof(std::max_align_t));
    void* block = WEX_POOL_MESSAGES ? OrvMIDIMessagePool::allocateBlock()
                                    : ::operator new(sizeof(OrvMIDIMessage));
    return OrvMIDIMessagePtr(new (block) OrvMIDIMessage(Key(), std::forward<Args>(args)...));
  }

  void retain() const { owners_.fetch_add(1, std::memory_order_relaxed); }
  // The sole owner needs no atomic read-modify-write: no other thread can take
  // a reference to the message meanwhile.
  void release() const {
    if (owners_.load(std::memory_order_acquire) == 1 ||
        owners_.fetch_sub(1, std::memory_order_acq_rel) == 1) {
      destroy(this);
    }
  }
  static void destroy(const OrvMIDIMessage* message) noexcept {
    auto* block = const_cast<OrvMIDIMessage*>(message);
    block->~OrvMIDIMessage();
    if (WEX_POOL_MESSAGES) {
      OrvMIDIMessagePool::releaseBlock(block);
    } else {
      ::operator delete(block);
    }
  }
  size_t wireDataCount() const { return midiDataByteCount(type_); }
  size_t writeSysexWireBytes(Byte* out) const;

  // In this order, so that fields() is one load.
  uint8_t status_;
  uint8_t data1_;
  uint8_t data2_;
  uint8_t type_;
  uint8_t channel_;
  mutable std::atomic<uint32_t> owners_{1};
  std::optional<std::vector<int32_t>> sysex_;
};

inline OrvMIDIMessagePtr::OrvMIDIMessagePtr(const OrvMIDIMessagePtr& other)
    : message_(other.message_) {
  if (message_) message_->retain();
}

inline OrvMIDIMessagePtr::~OrvMIDIMessagePtr() {
  if (message_) message_->release();
}

}  // namespace wex
