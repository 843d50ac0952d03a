#pragma once

#include <cstddef>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define WEX_POOL_MESSAGES 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define WEX_POOL_MESSAGES 0
#endif
#endif
#ifndef WEX_POOL_MESSAGES
#define WEX_POOL_MESSAGES 1
#endif

namespace wex {

// Memory for shared messages: blocks of one size, kept on free lists so that
// making and releasing the messages of a steady MIDI stream allocates nothing
// once warm. Each thread keeps a cache of free blocks; a cache that grows too
// long hands a batch back to a list shared by all threads, and an empty one
// takes a batch from there (or carves a new slab). Messages may be released on
// any thread. Slabs are kept for the life of the process: the pool grows to
// the most messages alive at once and no further.
class OrvMIDIMessagePool {
 public:
  static constexpr size_t kBlockSize = 64;

  // A block of kBlockSize bytes, aligned for any scalar type.
  static void* allocateBlock();
  static void releaseBlock(void* block) noexcept;
};

// Puts objects that fit a block into the pool, anything else on the heap.
// Under AddressSanitizer every object goes to the heap, so that a message used
// after its release is still caught.
template <class T>
class OrvMIDIMessagePoolAllocator {
 public:
  using value_type = T;

  OrvMIDIMessagePoolAllocator() = default;
  template <class U>
  OrvMIDIMessagePoolAllocator(const OrvMIDIMessagePoolAllocator<U>&) {}

  T* allocate(size_t n) {
    if (pooled(n)) return static_cast<T*>(OrvMIDIMessagePool::allocateBlock());
    return static_cast<T*>(::operator new(n * sizeof(T)));
  }
  void deallocate(T* p, size_t n) noexcept {
    if (pooled(n)) {
      OrvMIDIMessagePool::releaseBlock(p);
    } else {
      ::operator delete(p);
    }
  }

  template <class U>
  bool operator==(const OrvMIDIMessagePoolAllocator<U>&) const {
    return true;
  }

 private:
  static constexpr bool pooled(size_t n) {
    return WEX_POOL_MESSAGES && n == 1 && sizeof(T) <= OrvMIDIMessagePool::kBlockSize &&
           alignof(T) <= alignof(std::max_align_t);
  }
};

}  // namespace wex
