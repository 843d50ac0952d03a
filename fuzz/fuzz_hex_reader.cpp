// Reads the input as decode's hex text twice, whole and cut into pieces of
// sizes the input chooses, and checks that both readings give the same bytes,
// slashes and line ends and the same verdict; a text that reads cleanly is
// written back in canonical form and must read back to the same events.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "midiio/HexReader.h"

namespace {

using wex::Byte;

// The events as text: "B<hex>" per byte, "/" "//" and "\n".
class Recorder : public wex::HexReader::Sink {
 public:
  void bytes(const Byte* data, size_t count) override {
    static const char kDigits[] = "0123456789ABCDEF";
    for (size_t i = 0; i < count; ++i) {
      events += kDigits[data[i] >> 4];
      events += kDigits[data[i] & 0xF];
      events += ' ';
    }
  }
  void slash() override { events += "/ "; }
  void doubleSlash() override { events += "// "; }
  void lineEnd() override { events += "\n"; }
  std::string events;
};

struct Reading {
  bool ok;
  std::string events;
  std::string error;
};

Reading read(const std::string& text, const std::vector<size_t>& cuts) {
  Recorder recorder;
  wex::HexReader reader(recorder);
  bool ok = true;
  size_t at = 0;
  for (size_t cut : cuts) {
    if (!ok || at >= text.size()) break;
    const size_t size = std::min(cut, text.size() - at);
    ok = reader.feed(text.data() + at, size);
    at += size;
  }
  if (ok && at < text.size()) ok = reader.feed(text.data() + at, text.size() - at);
  if (ok) ok = reader.finish();
  return {ok, recorder.events, reader.error()};
}

void fail(const char* what) {
  std::fprintf(stderr, "fuzz_hex_reader: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider provider(data, size);
  std::vector<size_t> cuts;
  const size_t cutCount = provider.ConsumeIntegralInRange<size_t>(0, 16);
  for (size_t i = 0; i < cutCount; ++i)
    cuts.push_back(provider.ConsumeIntegralInRange<size_t>(1, 64));
  const std::string text = provider.ConsumeRemainingBytesAsString();

  const Reading whole = read(text, {});
  const Reading pieces = read(text, cuts);
  if (whole.ok != pieces.ok || whole.error != pieces.error) fail("the verdict depends on the cuts");
  // A failed reading stops at the bad word: the events before it agree too.
  if (whole.events != pieces.events) fail("the events depend on the cuts");
  if (!whole.ok) {
    if (whole.error.empty()) fail("a refusal without a reason");
    return 0;
  }
  const Reading again = read(whole.events, {});
  if (!again.ok || again.events != whole.events) fail("the canonical text reads back differently");
  return 0;
}
