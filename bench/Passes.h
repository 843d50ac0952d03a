#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace wex::bench {

// One timed unit of a side-by-side benchmark: a pass over its whole input,
// returning the number of messages it handled. Kept besides the Google
// Benchmark registration so that the program can also run each pass under
// callgrind and report instructions per message (--instructions).
struct Pass {
  std::string name;
  std::function<uint64_t()> run;
};

void registerPass(Pass pass);
const std::vector<Pass>& registeredPasses();

}  // namespace wex::bench
