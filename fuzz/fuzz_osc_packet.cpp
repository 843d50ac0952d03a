// Reads OSC packets as `--osc-in` does and checks what comes out: each
// packet gives requests or refusals, never both missing for a packet with
// bytes, and every request is one the program can act on (an input named
// PATCH.PORT with a value, or messages of at least one byte each).
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "osc/OscPacketReader.h"

namespace {

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_osc_packet: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<wex::OscRequest> requests;
  std::vector<wex::OscRefusal> refusals;
  wex::OscPacketReader::read(data, size, &requests, &refusals);
  const bool emptyBundle = size >= 16 && requests.empty() && refusals.empty();
  if (requests.empty() && refusals.empty() && !emptyBundle) fail("a packet gave nothing");
  for (const auto& request : requests) {
    if (request.kind == wex::OscRequest::Kind::Set) {
      if (request.input.find('.') == std::string::npos || request.value.is_discarded()) {
        fail("a set without an input or value");
      }
      continue;
    }
    if (request.messages.empty()) fail("a send without messages");
    for (const auto& bytes : request.messages) {
      if (bytes.empty()) fail("a message without bytes");
    }
  }
  return 0;
}
