#include "MinimalMIDIParser.h"

namespace wex::bench {

void MinimalMIDIParser::parse(const Byte* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    const Byte b = bytes[i];
    if (b & 0x80) {
      statusByte(b);
    } else {
      dataByte(b);
    }
  }
}

void MinimalMIDIParser::clearOutput() {
  count_ = 0;
  current_ = nullptr;
  if (!inSysex_) {
    sysexStart_ = 0;
    sysexEnd_ = 0;
  }
}

MinimalMessage* MinimalMIDIParser::append(Byte status) {
  if (count_ == messageCapacity_) return nullptr;
  MinimalMessage* message = &messages_[count_++];
  *message = MinimalMessage{};
  message->status = status;
  return message;
}

void MinimalMIDIParser::statusByte(Byte b) {
  if (b >= 0xF8) {
    append(b);
    return;
  }
  if (b == 0xF7) {
    current_ = nullptr;
    if (inSysex_ && !sysexOverflow_ && sysexEnd_ > sysexStart_) {
      if (MinimalMessage* message = append(0xF0)) {
        message->sysexOffset = static_cast<uint32_t>(sysexStart_);
        message->sysexLength = static_cast<uint32_t>(sysexEnd_ - sysexStart_);
        sysexStart_ = sysexEnd_;
      }
    }
    inSysex_ = false;
    return;
  }
  if (inSysex_) sysexEnd_ = sysexStart_;  // an interrupted sysex is dropped
  inSysex_ = b == 0xF0;
  sysexOverflow_ = false;
  if (inSysex_) {
    current_ = nullptr;
    return;
  }
  current_ = append(b);
  dataBytes_ = 0;
}

void MinimalMIDIParser::dataByte(Byte b) {
  if (inSysex_) {
    if (sysexEnd_ == sysexCapacity_) {
      sysexOverflow_ = true;
      return;
    }
    sysex_[sysexEnd_++] = b;
    return;
  }
  if (!current_) return;
  if (dataBytes_ == 0) {
    current_->data1 = b;
    dataBytes_ = 1;
  } else if (dataBytes_ == 1) {
    current_->data2 = b;
    dataBytes_ = 2;
  }
}

}  // namespace wex::bench
