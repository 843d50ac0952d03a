#include "BenchmarkStreams.h"

#include "MIDIStreams.h"

namespace wex::bench {

namespace {

ParsingInput makeInput(double sysexShare, uint32_t seed) {
  ParsingInput input;
  const auto stream = generateStream({.messages = 20000, .sysexShare = sysexShare, .seed = seed});
  input.bytes = stream.size();
  input.lists = cutIntoPacketLists(stream, seed + 1);
  return input;
}

}  // namespace

const ParsingInput& mixedInput() {
  static const ParsingInput input = makeInput(0.01, 11);
  return input;
}

const ParsingInput& noSysexInput() {
  static const ParsingInput input = makeInput(0.0, 23);
  return input;
}

}  // namespace wex::bench
