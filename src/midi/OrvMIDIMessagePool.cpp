#include "midi/OrvMIDIMessagePool.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace wex {

namespace {

struct FreeBlock {
  FreeBlock* next;
};

// Blocks moved between a thread's cache and the shared list at a time.
constexpr size_t kBatch = 256;
// A thread's cache beyond this length hands a batch back.
constexpr size_t kCacheLimit = 2 * kBatch;

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

// Plain data, so that it can be used at any point of a thread's exit.
struct ThreadCache {
  Chain chain;
  bool registered = false;  // the flusher below will run at thread exit
  bool exited = false;      // the flusher has run: blocks go straight back
};
thread_local ThreadCache tCache;

struct CacheFlusher {
  ~CacheFlusher() {
    sharedList().takeBack(tCache.chain, tCache.chain.length);
    tCache.exited = true;
  }
};
thread_local CacheFlusher tFlusher;

// Makes sure the cache is handed back when the thread ends.
void registerFlusher() {
  static_cast<void>(&tFlusher);
  tCache.registered = true;
}

}  // namespace

void* OrvMIDIMessagePool::allocateBlock() {
  ThreadCache& cache = tCache;
  if (cache.exited) return sharedList().takeOne();
  if (!cache.chain.head) {
    if (!cache.registered) registerFlusher();
    sharedList().refill(cache.chain);
  }
  return cache.chain.pop();
}

void OrvMIDIMessagePool::releaseBlock(void* block) noexcept {
  ThreadCache& cache = tCache;
  auto* freeBlock = static_cast<FreeBlock*>(block);
  if (cache.exited) {
    Chain single;
    single.push(freeBlock);
    sharedList().takeBack(single, 1);
    return;
  }
  if (!cache.registered) registerFlusher();
  cache.chain.push(freeBlock);
  if (cache.chain.length > kCacheLimit) sharedList().takeBack(cache.chain, kBatch);
}

}  // namespace wex
