#pragma once

#include <vector>

#include "services/MIDITypes.h"

namespace wex::bench {

// The generated streams every parser in the benchmarks reads, cut into the
// same packet lists.
struct ParsingInput {
  std::vector<std::vector<Byte>> lists;
  size_t bytes = 0;
};

const ParsingInput& mixedInput();  // with about 1% system exclusive
const ParsingInput& noSysexInput();
const ParsingInput& sysexInput();   // half the messages system exclusive of 8 to 4000 bytes
const ParsingInput& singleInput();  // the stream without sysex, one message per packet list

}  // namespace wex::bench
