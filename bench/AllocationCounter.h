#pragma once

#include <cstdint>

namespace wex::bench {

// Heap allocations made through operator new in this program so far; the
// benchmark program replaces the global operator new to count them.
uint64_t allocationCount();

// Net growth of the heap in use (blocks as malloc sizes them) through operator
// new and delete while one of these lives; one at a time.
class HeapGrowth {
 public:
  HeapGrowth();
  ~HeapGrowth();
  HeapGrowth(const HeapGrowth&) = delete;
  HeapGrowth& operator=(const HeapGrowth&) = delete;

  int64_t bytes() const;
  // The largest growth seen so far.
  int64_t peakBytes() const;
};

}  // namespace wex::bench
