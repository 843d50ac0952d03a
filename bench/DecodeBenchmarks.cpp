// `wexmidi decode` as a user runs it, from hex text to printed lines, beside
// a minimal C-style decoder of the same text: a hand-written hex loop, the
// allocation-free state machine and hand-written formatting into one buffer.
// Also the peak heap of decode over 30 MB of hex without "//".
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "MIDIStreams.h"
#include "MinimalMIDIParser.h"
#include "Passes.h"
#include "app/WexmidiProgram.h"

namespace wex::bench {

namespace {

// The mixed stream as hex, a line of about 48 bytes at a time, each line
// ending before a status byte outside a sysex message.
const std::string& mixedHex() {
  static const std::string text = [] {
    StreamMix mix;
    mix.messages = 100000;
    const std::vector<Byte> stream = generateStream(mix);
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    size_t lineBytes = 0;
    bool inSysex = false;
    for (Byte b : stream) {
      const bool boundary = b >= 0x80 && b < 0xF8 && !inSysex;
      if (boundary && lineBytes >= 48) {
        hex.back() = '\n';
        lineBytes = 0;
      }
      if (b == 0xF0) inSysex = true;
      if (b == 0xF7) inSysex = false;
      hex += kDigits[b >> 4];
      hex += kDigits[b & 0xF];
      hex += ' ';
      ++lineBytes;
    }
    hex.back() = '\n';
    return hex;
  }();
  return text;
}

// Where both decoders write their text, as a program writes to standard
// output: it counts the bytes and keeps them only when asked.
class CountingBuffer : public std::streambuf {
 public:
  size_t bytes = 0;
  std::string* keep = nullptr;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    ++bytes;
    if (keep) keep->push_back(char(c));
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    bytes += static_cast<size_t>(n);
    if (keep) keep->append(s, static_cast<size_t>(n));
    return n;
  }
};

size_t decodeWithProject(const std::string& text, std::string* keep = nullptr) {
  const char* argv[] = {"wexmidi", "decode"};
  std::istringstream in(text);
  CountingBuffer printed;
  printed.keep = keep;
  std::ostream out(&printed);
  std::ostringstream err;
  WexmidiProgram().run(2, argv, in, out, err);
  return printed.bytes;
}

// Hand-written text of one message, as decode prints it.
char* putNumber(char* at, unsigned long number) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number);
  while (count) *at++ = digits[--count];
  return at;
}

char* putText(char* at, const char* text) {
  const size_t length = std::strlen(text);
  std::memcpy(at, text, length);
  return at + length;
}

char* putMessage(char* at, const MinimalMessage& m, const Byte* sysex) {
  if (m.status == 0xF0) {
    for (uint32_t i = 0; i < m.sysexLength; ++i) {
      if (i) *at++ = ',';
      at = putNumber(at, sysex[m.sysexOffset + i]);
    }
    at = putText(at, "\tSysex: (");
    for (uint32_t i = 0; i < m.sysexLength; ++i) {
      if (i) at = putText(at, ", ");
      at = putNumber(at, sysex[m.sysexOffset + i]);
    }
    return putText(at, ")\n");
  }
  at = putNumber(at, m.status * 65536ul + m.data1 * 256ul + m.data2);
  *at++ = '\t';
  const unsigned type = m.status < 0xF0 ? m.status & 0xF0 : m.status;
  const unsigned channel = m.status < 0xF0 ? m.status & 0x0F : 0;
  static const char* const kChannelNames[] = {"NoteOff",   "NoteOn",          "AfterTouch", "Ctrl",
                                              "PgmChange", "ChannelPressure", "PitchWheel"};
  if (type < 0xF0) {
    at = putText(at, kChannelNames[(type >> 4) - 8]);
    at = putText(at, ", ch.");
    at = putNumber(at, channel);
    switch (type) {
      case 0xB0:
        at = putText(at, ", ctrl.");
        break;
      case 0xC0:
        at = putText(at, ", pgm.");
        break;
      case 0xD0:
        at = putText(at, ", val.");
        break;
      case 0xE0:
        at = putText(at, ", val.");
        break;
      default:
        at = putText(at, ", note.");
        break;
    }
    if (type == 0xE0) return putText(putNumber(at, (m.data2 << 7) | m.data1), "\n");
    at = putNumber(at, m.data1);
    if (type == 0xC0 || type == 0xD0) return putText(at, "\n");
    return putText(putNumber(putText(at, ", val."), m.data2), "\n");
  }
  switch (type) {
    case 0xF1:
      return putText(putNumber(putText(at, "Quarter-Frame: "), m.data1), "\n");
    case 0xF2:
      return putText(putNumber(putText(at, "Song Pos'n ptr: "), (m.data2 << 7) | m.data1), "\n");
    case 0xF3:
      return putText(putNumber(putText(at, "Song Select: "), m.data1), "\n");
    default:
      break;
  }
  static const char* const kSystemNames[] = {"",
                                             "",
                                             "",
                                             "",
                                             "Undefined common",
                                             "Undefined common 2",
                                             "Tune Request",
                                             "",
                                             "Clock",
                                             "Tick",
                                             "Start",
                                             "Continue",
                                             "Stop",
                                             "Undefined Realtime",
                                             "Active Sense",
                                             "MIDI Reset"};
  return putText(putText(at, kSystemNames[type - 0xF0]), "\n");
}

// Returns the bytes printed, as decodeWithProject does.
size_t decodeMinimal(const std::string& text, std::string* keep = nullptr) {
  static std::vector<MinimalMessage> messages(4096);
  static std::vector<Byte> sysex(1 << 16);
  MinimalMIDIParser parser(messages.data(), messages.size(), sysex.data(), sysex.size());
  static std::vector<char> out(1 << 20);
  CountingBuffer printed;
  printed.keep = keep;
  std::ostream stream(&printed);
  Byte line[4096];
  size_t lineLength = 0;
  int high = -1;
  for (char c : text) {
    int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    if (digit >= 0) {
      if (high < 0) {
        high = digit;
      } else {
        line[lineLength++] = static_cast<Byte>(high * 16 + digit);
        high = -1;
      }
    } else if (c == '\n') {
      parser.clearOutput();
      parser.parse(line, lineLength);
      lineLength = 0;
      char* at = out.data();
      for (size_t i = 0; i < parser.count(); ++i)
        at = putMessage(at, parser.message(i), parser.sysexBytes());
      stream.write(out.data(), at - out.data());
    }
  }
  return printed.bytes;
}

// The messages of the mixed stream: the lines decode prints for it.
size_t mixedMessages() {
  static const size_t count = [] {
    std::string printed;
    decodeMinimal(mixedHex(), &printed);
    return static_cast<size_t>(std::count(printed.begin(), printed.end(), '\n'));
  }();
  return count;
}

template <class Decode>
void runDecode(benchmark::State& state, Decode decode) {
  const std::string& text = mixedHex();
  const size_t messages = mixedMessages();
  for (auto _ : state) benchmark::DoNotOptimize(decode(text, nullptr));
  state.SetBytesProcessed(static_cast<int64_t>(text.size() * state.iterations()));
  state.counters["msgs"] = static_cast<double>(messages);
  state.counters["Mmsgs/s"] = benchmark::Counter(static_cast<double>(messages) * 1e-6,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

// Hex text made on the fly, so that only decode's own memory counts.
class RepeatingText : public std::streambuf {
 public:
  RepeatingText(const std::string& text, size_t total) : text_(text), left_(total) {}

 protected:
  int_type underflow() override {
    if (left_ == 0) return traits_type::eof();
    const size_t size = std::min(left_, text_.size());
    char* begin = const_cast<char*>(text_.data());
    setg(begin, begin, begin + size);
    left_ -= size;
    return traits_type::to_int_type(*begin);
  }

 private:
  const std::string& text_;
  size_t left_;
};

void decodePeakMemory(benchmark::State& state) {
  const size_t total = 30u << 20;
  int64_t peak = 0;
  for (auto _ : state) {
    RepeatingText text(mixedHex(), total);
    std::istream in(&text);
    CountingBuffer printed;
    std::ostream out(&printed);
    std::ostringstream err;
    const char* argv[] = {"wexmidi", "decode"};
    HeapGrowth growth;
    WexmidiProgram().run(2, argv, in, out, err);
    peak = growth.peakBytes();
  }
  state.counters["peakMB"] = static_cast<double>(peak) / (1 << 20);
  state.counters["inputMB"] = static_cast<double>(total) / (1 << 20);
}

}  // namespace

void registerDecodeBenchmarks() {
  benchmark::RegisterBenchmark("Decode/Mixed/Project", [](benchmark::State& s) {
    runDecode(s, [](const std::string& t, std::string* k) { return decodeWithProject(t, k); });
  });
  benchmark::RegisterBenchmark("Decode/Mixed/Minimal", [](benchmark::State& s) {
    runDecode(s, [](const std::string& t, std::string* k) { return decodeMinimal(t, k); });
  });
  benchmark::RegisterBenchmark("Decode/PeakMemory30MB", decodePeakMemory)->Iterations(1);
  registerPass({"Decode/Mixed/Project", [] {
                  decodeWithProject(mixedHex());
                  return mixedMessages();
                }});
  registerPass({"Decode/Mixed/Minimal", [] {
                  decodeMinimal(mixedHex());
                  return mixedMessages();
                }});
}

// Whether both decoders print the very same text for the benchmark's stream.
bool decodersAgree() {
  std::string project, minimal;
  decodeWithProject(mixedHex(), &project);
  decodeMinimal(mixedHex(), &minimal);
  return project == minimal;
}

}  // namespace wex::bench
