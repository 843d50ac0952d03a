#include "AllocationCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<uint64_t> gAllocations{0};
// Heap growth is followed only while measured, so that the other benchmarks
// pay one relaxed load per allocation for it.
std::atomic<bool> gMeasuringHeap{false};
std::atomic<int64_t> gHeapGrowth{0};
std::atomic<int64_t> gHeapPeak{0};

void* counted(void* p) {
  if (!p) throw std::bad_alloc();
  if (gMeasuringHeap.load(std::memory_order_relaxed)) {
    const auto size = static_cast<int64_t>(malloc_usable_size(p));
    const int64_t grown = gHeapGrowth.fetch_add(size, std::memory_order_relaxed) + size;
    int64_t peak = gHeapPeak.load(std::memory_order_relaxed);
    while (grown > peak && !gHeapPeak.compare_exchange_weak(peak, grown)) {
    }
  }
  return p;
}

void* allocate(std::size_t size) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  return counted(std::malloc(size == 0 ? 1 : size));
}

void* allocateAligned(std::size_t size, std::align_val_t alignment) {
  gAllocations.fetch_add(1, std::memory_order_relaxed);
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;
  return counted(std::aligned_alloc(align, rounded == 0 ? align : rounded));
}

// Blocks allocated before a measurement and freed during it count too: the
// growth is that of the heap in use, whoever allocated what.
void release(void* p) noexcept {
  if (p && gMeasuringHeap.load(std::memory_order_relaxed)) {
    gHeapGrowth.fetch_sub(static_cast<int64_t>(malloc_usable_size(p)), std::memory_order_relaxed);
  }
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocateAligned(size, alignment);
}
void operator delete(void* p) noexcept {
  release(p);
}
void operator delete[](void* p) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  release(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
  release(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  release(p);
}

namespace wex::bench {

uint64_t allocationCount() {
  return gAllocations.load(std::memory_order_relaxed);
}

HeapGrowth::HeapGrowth() {
  gHeapGrowth.store(0);
  gHeapPeak.store(0);
  gMeasuringHeap.store(true);
}

HeapGrowth::~HeapGrowth() {
  gMeasuringHeap.store(false);
}

int64_t HeapGrowth::bytes() const {
  return gHeapGrowth.load();
}

int64_t HeapGrowth::peakBytes() const {
  return gHeapPeak.load();
}

}  // namespace wex::bench
