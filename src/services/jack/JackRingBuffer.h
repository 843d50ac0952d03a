#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "services/MIDITypes.h"

namespace wex {

// A lock-free ring of byte frames for one producer thread and one consumer
// thread: the JACK process callback on one side, a thread of ours on the other.
// A frame is written whole or not at all. The indices are std::atomic with
// acquire/release ordering, so the hand-over is visible to ThreadSanitizer
// (the synchronisation inside jack_ringbuffer is not).
class JackRingBuffer {
 public:
  // Capacity in bytes, rounded up to a power of two; every frame costs four
  // bytes of length besides its data. `lockInMemory`: its bytes are locked
  // in memory (mlock), so that the process callback never waits for a page;
  // where the system refuses, they are not, and the log says so once.
  explicit JackRingBuffer(size_t capacity, bool lockInMemory = false);
  ~JackRingBuffer();

  JackRingBuffer(const JackRingBuffer&) = delete;
  JackRingBuffer& operator=(const JackRingBuffer&) = delete;

  // Producer side. False, with nothing written, when the frame does not fit.
  bool writeFrame(const Byte* data, uint32_t length);
  // One frame of `head` followed by `data`, written whole or not at all.
  bool writeFrame(const Byte* head, uint32_t headLength, const Byte* data, uint32_t length);

  // Consumer side: the length of the next frame, 0 when there is none.
  uint32_t nextFrameLength() const;
  // Copies the next frame (nextFrameLength() bytes) to `out` and removes it.
  void readFrame(Byte* out);
  // The same, with the frame's first `headLength` bytes copied to `head` and
  // the rest to `out`.
  void readFrame(Byte* head, uint32_t headLength, Byte* out);
  // Copies the first `length` bytes of the next frame, which stays.
  void peekFrame(Byte* out, uint32_t length) const;
  void skipFrame();

  bool empty() const;
  size_t capacity() const { return capacity_; }

  // Drops every frame. Only while neither side is in use.
  void reset();

 private:
  void copyIn(size_t position, const Byte* data, size_t length);
  void copyOut(size_t position, Byte* out, size_t length) const;

  size_t capacity_;
  size_t mask_;
  std::unique_ptr<Byte[]> bytes_;
  bool locked_ = false;
  std::atomic<size_t> writePosition_{0};
  std::atomic<size_t> readPosition_{0};
};

}  // namespace wex
