#include "services/jack/JackRingBuffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "support/SystemLog.h"

namespace wex {

namespace {

constexpr size_t kLengthSize = sizeof(uint32_t);

size_t roundUpToPowerOfTwo(size_t value) {
  size_t result = 16;
  while (result < value) result <<= 1;
  return result;
}

}  // namespace

JackRingBuffer::JackRingBuffer(size_t capacity, bool lockInMemory)
    : capacity_(roundUpToPowerOfTwo(capacity)),
      mask_(capacity_ - 1),
      bytes_(new Byte[capacity_]()) {
  if (!lockInMemory) return;
  locked_ = ::mlock(bytes_.get(), capacity_) == 0;
  if (locked_) return;
  const int error = errno;
  static std::atomic<bool> refusalLogged{false};
  if (refusalLogged.exchange(true)) return;
  SystemLog::write(std::string("\tlocking MIDI buffers in memory refused (") +
                   std::strerror(error) +
                   "): they may be paged out (see memlock in /etc/security/limits.conf)");
}

JackRingBuffer::~JackRingBuffer() {
  if (locked_) ::munlock(bytes_.get(), capacity_);
}

void JackRingBuffer::copyIn(size_t position, const Byte* data, size_t length) {
  const size_t start = position & mask_;
  const size_t first = std::min(length, capacity_ - start);
  std::memcpy(bytes_.get() + start, data, first);
  std::memcpy(bytes_.get(), data + first, length - first);
}

void JackRingBuffer::copyOut(size_t position, Byte* out, size_t length) const {
  const size_t start = position & mask_;
  const size_t first = std::min(length, capacity_ - start);
  std::memcpy(out, bytes_.get() + start, first);
  std::memcpy(out + first, bytes_.get(), length - first);
}

bool JackRingBuffer::writeFrame(const Byte* data, uint32_t length) {
  return writeFrame(nullptr, 0, data, length);
}

bool JackRingBuffer::writeFrame(const Byte* head, uint32_t headLength, const Byte* data,
                                uint32_t length) {
  const uint32_t frameLength = headLength + length;
  if (frameLength == 0) return true;
  const size_t write = writePosition_.load(std::memory_order_relaxed);
  const size_t read = readPosition_.load(std::memory_order_acquire);
  const size_t free = capacity_ - (write - read);
  if (free < kLengthSize + frameLength) return false;
  Byte header[kLengthSize];
  std::memcpy(header, &frameLength, kLengthSize);
  copyIn(write, header, kLengthSize);
  if (headLength > 0) copyIn(write + kLengthSize, head, headLength);
  copyIn(write + kLengthSize + headLength, data, length);
  writePosition_.store(write + kLengthSize + frameLength, std::memory_order_release);
  return true;
}

uint32_t JackRingBuffer::nextFrameLength() const {
  const size_t read = readPosition_.load(std::memory_order_relaxed);
  const size_t write = writePosition_.load(std::memory_order_acquire);
  if (write == read) return 0;
  Byte header[kLengthSize];
  copyOut(read, header, kLengthSize);
  uint32_t length = 0;
  std::memcpy(&length, header, kLengthSize);
  return length;
}

void JackRingBuffer::readFrame(Byte* out) {
  const uint32_t length = nextFrameLength();
  if (length == 0) return;
  const size_t read = readPosition_.load(std::memory_order_relaxed);
  copyOut(read + kLengthSize, out, length);
  readPosition_.store(read + kLengthSize + length, std::memory_order_release);
}

void JackRingBuffer::readFrame(Byte* head, uint32_t headLength, Byte* out) {
  const uint32_t length = nextFrameLength();
  if (length == 0) return;
  const uint32_t first = std::min(headLength, length);
  const size_t read = readPosition_.load(std::memory_order_relaxed);
  copyOut(read + kLengthSize, head, first);
  copyOut(read + kLengthSize + first, out, length - first);
  readPosition_.store(read + kLengthSize + length, std::memory_order_release);
}

void JackRingBuffer::peekFrame(Byte* out, uint32_t length) const {
  const uint32_t frameLength = nextFrameLength();
  const size_t read = readPosition_.load(std::memory_order_relaxed);
  copyOut(read + kLengthSize, out, std::min(length, frameLength));
}

void JackRingBuffer::skipFrame() {
  const uint32_t length = nextFrameLength();
  if (length == 0) return;
  const size_t read = readPosition_.load(std::memory_order_relaxed);
  readPosition_.store(read + kLengthSize + length, std::memory_order_release);
}

bool JackRingBuffer::empty() const {
  return readPosition_.load(std::memory_order_acquire) ==
         writePosition_.load(std::memory_order_acquire);
}

void JackRingBuffer::reset() {
  readPosition_.store(writePosition_.load(std::memory_order_acquire), std::memory_order_release);
}

}  // namespace wex
