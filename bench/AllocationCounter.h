#pragma once

#include <cstdint>

namespace wex::bench {

// Heap allocations made through operator new in this program so far; the
// benchmark program replaces the global operator new to count them.
uint64_t allocationCount();

}  // namespace wex::bench
