#include "services/jack/JackMessageSplitter.h"

namespace wex {

namespace {

size_t dataBytesOf(Byte status) {
  switch (status & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
      return 2;
    case 0xC0:
    case 0xD0:
      return 1;
    default:
      break;
  }
  switch (status) {
    case 0xF1:
    case 0xF3:
      return 1;
    case 0xF2:
      return 2;
    default:
      return 0;
  }
}

}  // namespace

void JackMessageSplitter::feed(const Byte* bytes, size_t length, const Emit& emit) {
  for (size_t i = 0; i < length; ++i) {
    if (bytes[i] & 0x80) {
      status(bytes[i], emit);
    } else {
      data(bytes[i], emit);
    }
  }
}

void JackMessageSplitter::status(Byte byte, const Emit& emit) {
  if (byte >= 0xF8) {
    emit(&byte, 1);
    return;
  }
  if (byte == 0xF7) {
    if (inSysex_) {
      message_.push_back(byte);
      emit(message_.data(), message_.size());
    }
    inSysex_ = false;
    message_.clear();
    runningStatus_ = 0;
    return;
  }
  // Any other status ends an unfinished message; an unfinished sysex is
  // dropped rather than sent without its end.
  inSysex_ = false;
  message_.assign(1, byte);
  if (byte == 0xF0) {
    inSysex_ = true;
    runningStatus_ = 0;
    return;
  }
  runningStatus_ = byte < 0xF0 ? byte : 0;
  expectedDataBytes_ = dataBytesOf(byte);
  if (expectedDataBytes_ == 0) {
    emit(message_.data(), message_.size());
    message_.clear();
  }
}

void JackMessageSplitter::data(Byte byte, const Emit& emit) {
  if (inSysex_) {
    message_.push_back(byte);
    if (message_.size() == kMaxSysexFragment) {
      emit(message_.data(), message_.size());
      message_.clear();
    }
    return;
  }
  if (message_.empty()) {
    if (runningStatus_ == 0) return;
    message_.assign(1, runningStatus_);
    expectedDataBytes_ = dataBytesOf(runningStatus_);
  }
  message_.push_back(byte);
  if (message_.size() == expectedDataBytes_ + 1) {
    emit(message_.data(), message_.size());
    message_.clear();
  }
}

}  // namespace wex
