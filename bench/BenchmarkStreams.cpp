#include "BenchmarkStreams.h"

#include "MIDIStreams.h"

namespace wex::bench {

namespace {

ParsingInput makeInput(const StreamMix& mix) {
  ParsingInput input;
  const auto stream = generateStream(mix);
  input.bytes = stream.size();
  input.lists = cutIntoPacketLists(stream, mix.seed + 1);
  return input;
}

}  // namespace

const ParsingInput& mixedInput() {
  static const ParsingInput input = makeInput({.messages = 20000, .sysexShare = 0.01, .seed = 11});
  return input;
}

const ParsingInput& noSysexInput() {
  static const ParsingInput input = makeInput({.messages = 20000, .sysexShare = 0.0, .seed = 23});
  return input;
}

const ParsingInput& sysexInput() {
  static const ParsingInput input = makeInput({.messages = 400,
                                               .sysexShare = 0.5,
                                               .sysexMinLength = 8,
                                               .sysexMaxLength = 4000,
                                               .seed = 31});
  return input;
}

const ParsingInput& singleInput() {
  static const ParsingInput input = [] {
    const auto stream = generateStream({.messages = 20000, .sysexShare = 0.0, .seed = 23});
    return ParsingInput{cutIntoMessageLists(stream), stream.size()};
  }();
  return input;
}

}  // namespace wex::bench
