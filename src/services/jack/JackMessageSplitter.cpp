#include "services/jack/JackMessageSplitter.h"

#include "services/MIDIStatus.h"

namespace wex {

void JackMessageSplitter::feed(const Byte* bytes, size_t length, const Emit& emit) {
  for (size_t i = 0; i < length; ++i) {
    if (isMIDIStatus(bytes[i])) {
      status(bytes[i], emit);
    } else {
      data(bytes[i], emit);
    }
  }
}

void JackMessageSplitter::status(Byte byte, const Emit& emit) {
  if (isMIDIRealtime(byte)) {
    emit(&byte, 1);
    return;
  }
  if (byte == kMIDISysexEnd) {
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
  if (byte == kMIDISysexStart) {
    inSysex_ = true;
    runningStatus_ = 0;
    return;
  }
  // Only channel messages run on; a system common message cancels the
  // running status.
  runningStatus_ = isMIDIChannelStatus(byte) ? byte : 0;
  expectedDataBytes_ = midiDataByteCount(byte);
  if (expectedDataBytes_ == 0) {
    emit(message_.data(), message_.size());
    message_.clear();
  }
}

void JackMessageSplitter::data(Byte byte, const Emit& emit) {
  if (inSysex_) {
    message_.push_back(byte);
    if (message_.size() >= maxFragment_) {
      emit(message_.data(), message_.size());
      message_.clear();
    }
    return;
  }
  if (message_.empty()) {
    if (runningStatus_ == 0) return;
    message_.assign(1, runningStatus_);
    expectedDataBytes_ = midiDataByteCount(runningStatus_);
  }
  message_.push_back(byte);
  if (message_.size() == expectedDataBytes_ + 1) {
    emit(message_.data(), message_.size());
    message_.clear();
  }
}

}  // namespace wex
