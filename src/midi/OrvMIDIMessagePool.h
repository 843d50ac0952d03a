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
  // Blocks moved between a thread's cache and the shared list at a time.
  static constexpr size_t kBatch = 256;
  // A thread's cache beyond this length hands a batch back.
  static constexpr size_t kCacheLimit = 2 * kBatch;

  // A block of kBlockSize bytes, aligned for any scalar type. Under
  // AddressSanitizer messages take their memory from the heap instead
  // (WEX_POOL_MESSAGES is 0), so that a message used after its release is
  // still caught. Inline, since the read callback makes a message of nearly
  // every status byte: the common case takes a block off this thread's cache.
  static void* allocateBlock() {
    Cache& cache = cache_;
    if (FreeBlock* block = cache.head) {
      cache.head = block->next;
      ++cache.room;
      return block;
    }
    return allocateBlockSlowly();
  }

  static void releaseBlock(void* block) noexcept {
    Cache& cache = cache_;
    if (cache.room != 0) {
      auto* freeBlock = static_cast<FreeBlock*>(block);
      freeBlock->next = cache.head;
      cache.head = freeBlock;
      --cache.room;
      return;
    }
    releaseBlockSlowly(block);
  }

  struct FreeBlock {
    FreeBlock* next;
  };
  struct CacheFlusher;  // hands a thread's cache back when the thread ends

 private:
  friend struct CacheFlusher;
  // Plain data, so that it can be used at any point of a thread's exit.
  // One count serves both fast paths: `room` is what the cache may still
  // take (kCacheLimit less its length) while it is active, and 0 while it is
  // not, when it is also empty, so that a release needs a single test.
  struct Cache {
    FreeBlock* head = nullptr;
    size_t room = 0;
    bool active = false;  // handed back when the thread ends; false again once it has been
    bool exited = false;  // handed back: blocks go straight to the shared list

    size_t length() const { return active ? kCacheLimit - room : 0; }
  };

  static void activate();
  static void* allocateBlockSlowly();
  static void releaseBlockSlowly(void* block) noexcept;

  static thread_local Cache cache_;
};

inline thread_local OrvMIDIMessagePool::Cache OrvMIDIMessagePool::cache_;

}  // namespace wex
