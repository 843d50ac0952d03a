#include "midi/OrvMIDIMessagePool.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace wex {

namespace {

using FreeBlock = OrvMIDIMessagePool::FreeBlock;
constexpr size_t kBatch = OrvMIDIMessagePool::kBatch;

// A chain of free blocks and its length.
struct Chain {
  FreeBlock* head = nullptr;
  size_t length = 0;

  void push(FreeBlock* block) {
    block->next = head;
    head = block;
    ++length;
  }
  FreeBlock* pop() {
    FreeBlock* block = head;
    head = block->next;
    --length;
    return block;
  }
  // Moves up to `count` blocks from the front of this chain into `to`.
  void moveTo(Chain& to, size_t count) {
    while (count-- > 0 && head) to.push(pop());
  }
};

// The free blocks not in any thread's cache, and every slab ever carved.
class SharedList {
 public:
  // Fills `cache` with a batch from the list, carving a slab when it is empty.
  void refill(Chain& cache) {
    std::lock_guard lock(mutex_);
    if (!free_.head) carveSlab();
    free_.moveTo(cache, kBatch);
  }
  FreeBlock* takeOne() {
    std::lock_guard lock(mutex_);
    if (!free_.head) carveSlab();
    return free_.pop();
  }
  void takeBack(Chain& from, size_t count) {
    std::lock_guard lock(mutex_);
    from.moveTo(free_, count);
  }

 private:
  void carveSlab() {
    slabs_.push_back(std::make_unique<std::byte[]>(kBatch * OrvMIDIMessagePool::kBlockSize));
    std::byte* slab = slabs_.back().get();
    for (size_t i = kBatch; i-- > 0;) {
      free_.push(reinterpret_cast<FreeBlock*>(slab + i * OrvMIDIMessagePool::kBlockSize));
    }
  }

  std::mutex mutex_;
  Chain free_;
  std::vector<std::unique_ptr<std::byte[]>> slabs_;
};

// Never destroyed: messages may be released during the process's exit.
SharedList& sharedList() {
  static SharedList* list = new SharedList;
  return *list;
}

}  // namespace

// Hands this thread's cache back when the thread ends.
struct OrvMIDIMessagePool::CacheFlusher {
  ~CacheFlusher() {
    Cache& cache = cache_;
    Chain chain{cache.head, cache.length()};
    sharedList().takeBack(chain, chain.length);
    cache.head = nullptr;
    cache.room = 0;
    cache.active = false;
    cache.exited = true;
  }
};

namespace {
thread_local OrvMIDIMessagePool::CacheFlusher tFlusher;
}  // namespace

void OrvMIDIMessagePool::activate() {
  static_cast<void>(&tFlusher);
  cache_.active = true;
  cache_.room = kCacheLimit;
}

void* OrvMIDIMessagePool::allocateBlockSlowly() {
  Cache& cache = cache_;
  if (cache.exited) return sharedList().takeOne();
  if (!cache.active) activate();
  Chain chain{cache.head, cache.length()};
  sharedList().refill(chain);
  FreeBlock* block = chain.pop();
  cache.head = chain.head;
  cache.room = OrvMIDIMessagePool::kCacheLimit - chain.length;
  return block;
}

void OrvMIDIMessagePool::releaseBlockSlowly(void* block) noexcept {
  Cache& cache = cache_;
  auto* freeBlock = static_cast<FreeBlock*>(block);
  if (cache.exited) {
    Chain single;
    single.push(freeBlock);
    sharedList().takeBack(single, 1);
    return;
  }
  if (!cache.active) activate();
  Chain chain{cache.head, cache.length()};
  chain.push(freeBlock);
  if (chain.length > OrvMIDIMessagePool::kCacheLimit) sharedList().takeBack(chain, kBatch);
  cache.head = chain.head;
  cache.room = OrvMIDIMessagePool::kCacheLimit - chain.length;
}

}  // namespace wex
