// Reads Standard MIDI Files made from the input. The reader must never read
// out of bounds or give up; a file it finds sound must give events in time
// order at finite times, each with bytes, and a damaged one must name each
// damage.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "midiio/MIDIFileReader.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_midi_file: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto result = wex::MIDIFileReader::read(data, size);
  double last = 0;
  for (const auto& event : result.events) {
    if (!std::isfinite(event.seconds) || event.seconds < last) fail("an event out of time order");
    if (event.bytes.empty()) fail("an event without bytes");
    last = event.seconds;
  }
  for (const auto& damage : result.damages) {
    if (damage.empty()) fail("a damage without a name");
  }
  return 0;
}
