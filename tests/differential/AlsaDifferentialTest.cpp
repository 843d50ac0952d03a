// The project's read callback against ALSA's MIDI coder (snd_midi_event_encode)
// on random and mutated packet lists: both must deliver the same messages,
// except where this system chose differently. Each such difference class is
// named below, normalised away before the comparison, and counted.
#include <alsa/asoundlib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketListBuffer.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;
using PacketList = std::vector<Bytes>;

// Where the two parsers differ by this system's choice.
enum class Difference {
  // A note on with velocity 0 is delivered as a note off; ALSA keeps it a note on.
  NoteOnVelocityZero,
  // 0xF9 and 0xFD are delivered as messages; ALSA has no event for them.
  RealtimeWithoutAlsaEvent,
  // A realtime byte between the bytes of a message comes after that message
  // (messages go out in the order of their status bytes); ALSA puts it first,
  // as it delivers a message only when complete.
  RealtimeInsideMessage,
  // A message cut short by a status byte or the end of a list is delivered
  // with absent-byte markers; ALSA drops it.
  IncompleteMessage,
  // No running status: data bytes after a complete message are dropped; ALSA
  // makes further messages of them.
  RunningStatus,
  // 0xF4 and 0xF5 are delivered as messages; ALSA has no event for them.
  UndefinedSystemCommon,
  // F0 F7 is refused (no bytes to carry); ALSA delivers an empty sysex.
  EmptySysex,
  // Each callback starts with no current message, so a message is never
  // continued in the next packet list (a sysex is); ALSA continues it. ALSA's
  // coder is reset between lists outside a sysex to follow this choice.
  MessageSplitAcrossLists,
  // A sysex still open after 128 further callbacks is abandoned; ALSA goes on
  // (checked by a test of its own: random sessions are never that long).
  SysexAbandonedAfter128Callbacks,
};

const char* nameOf(Difference difference) {
  switch (difference) {
    case Difference::NoteOnVelocityZero:
      return "NoteOnVelocityZero";
    case Difference::RealtimeWithoutAlsaEvent:
      return "RealtimeWithoutAlsaEvent";
    case Difference::RealtimeInsideMessage:
      return "RealtimeInsideMessage";
    case Difference::IncompleteMessage:
      return "IncompleteMessage";
    case Difference::RunningStatus:
      return "RunningStatus";
    case Difference::UndefinedSystemCommon:
      return "UndefinedSystemCommon";
    case Difference::EmptySysex:
      return "EmptySysex";
    case Difference::MessageSplitAcrossLists:
      return "MessageSplitAcrossLists";
    case Difference::SysexAbandonedAfter128Callbacks:
      return "SysexAbandonedAfter128Callbacks";
  }
  return "?";
}

using DifferenceCounts = std::map<Difference, uint64_t>;

// A message as both sides can state it: the whole status byte and the data
// bytes its type carries (-1 for none), or the data bytes of a sysex.
struct Event {
  int status = 0;
  int data1 = -1;
  int data2 = -1;
  std::vector<int> sysex;

  bool operator==(const Event&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Event& e) {
  os << std::hex << std::uppercase << e.status << std::dec;
  if (e.data1 >= 0) os << " " << e.data1;
  if (e.data2 >= 0) os << " " << e.data2;
  for (int b : e.sysex) os << " " << b;
  return os;
}

Event eventWith(int status, int data1 = -1, int data2 = -1) {
  Event event;
  event.status = status;
  event.data1 = data1;
  event.data2 = data2;
  return event;
}

int dataBytesOf(int status) {
  if (status < 0xF0) {
    const int kind = status & 0xF0;
    return kind == 0xC0 || kind == 0xD0 ? 1 : 2;
  }
  if (status == 0xF2) return 2;
  return status == 0xF1 || status == 0xF3 ? 1 : 0;
}

// The project's side: one read callback per list, through a node stand-in.
class ProjectParser : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override { delivered_ = messages; }

  std::vector<Event> parse(const PacketList& packets, DifferenceCounts& counts) {
    ByteCount size = kMIDIPacketListHeaderSize;
    for (const auto& p : packets) size += kMIDIPacketHeaderSize + p.size();
    MIDIPacketListBuffer list(size);
    for (const auto& p : packets) list.addPacket(p);
    delivered_.clear();
    myMIDIReadProc(list.list(), static_cast<OrvMIDIReadTarget*>(this), nullptr);
    std::vector<Event> events;
    for (const auto& message : delivered_) {
      if (auto event = eventOf(*message, counts)) events.push_back(std::move(*event));
    }
    return events;
  }

 private:
  static std::optional<Event> eventOf(const OrvMIDIMessage& m, DifferenceCounts& counts) {
    Event event;
    if (m.type() == 0xF0) {
      event.status = 0xF0;
      event.sysex.assign(m.sysexArray()->begin(), m.sysexArray()->end());
      return event;
    }
    event.status = m.type() < 0xF0 ? m.type() | m.channel() : m.type();
    if (event.status == 0xF9 || event.status == 0xFD) {
      ++counts[Difference::RealtimeWithoutAlsaEvent];
      return std::nullopt;
    }
    if (event.status == 0xF4 || event.status == 0xF5) {
      ++counts[Difference::UndefinedSystemCommon];
      return std::nullopt;
    }
    const int dataBytes = dataBytesOf(event.status);
    if ((dataBytes >= 1 && m.data1() == OrvMIDIMessage::kAbsentData1) ||
        (dataBytes == 2 && m.data2() == OrvMIDIMessage::kAbsentData2)) {
      ++counts[Difference::IncompleteMessage];
      return std::nullopt;
    }
    if (dataBytes >= 1) event.data1 = m.data1();
    if (dataBytes == 2) event.data2 = m.data2();
    return event;
  }

  OrvMIDIMessageList delivered_;
};

// ALSA's side: the coder fed byte by byte, each event keyed by the position of
// the byte that orders it in this system (its status byte; a sysex's 0xF7).
class AlsaParser {
 public:
  AlsaParser() {
    // Room for any sysex of a session, so that none is cut into chunks.
    if (snd_midi_event_new(1 << 16, &coder_) < 0) coder_ = nullptr;
  }
  ~AlsaParser() {
    if (coder_) snd_midi_event_free(coder_);
  }
  AlsaParser(const AlsaParser&) = delete;
  AlsaParser& operator=(const AlsaParser&) = delete;

  bool ready() const { return coder_ != nullptr; }

  void startSession() {
    snd_midi_event_reset_encode(coder_);
    position_ = 0;
    statusSinceCompletion_ = false;
    sysexOpen_ = false;
    pendingMessage_ = false;
    firstList_ = true;
  }

  std::vector<Event> parse(const PacketList& packets, DifferenceCounts& counts) {
    if (!firstList_ && !sysexOpen_) {
      if (pendingMessage_) ++counts[Difference::MessageSplitAcrossLists];
      snd_midi_event_reset_encode(coder_);
      pendingMessage_ = false;
    }
    firstList_ = false;
    std::vector<std::pair<uint64_t, Event>> keyed;
    for (const auto& packet : packets) {
      for (Byte b : packet) feed(b, keyed, counts);
    }
    const bool inOrder = std::is_sorted(keyed.begin(), keyed.end(),
                                        [](auto& a, auto& b) { return a.first < b.first; });
    if (!inOrder) {
      ++counts[Difference::RealtimeInsideMessage];
      std::stable_sort(keyed.begin(), keyed.end(),
                       [](auto& a, auto& b) { return a.first < b.first; });
    }
    std::vector<Event> events;
    for (auto& [key, event] : keyed) events.push_back(std::move(event));
    return events;
  }

 private:
  void feed(Byte b, std::vector<std::pair<uint64_t, Event>>& keyed, DifferenceCounts& counts) {
    const uint64_t position = position_++;
    const bool realtime = b >= 0xF8;
    if (b >= 0x80 && !realtime) {
      statusSinceCompletion_ = true;
      lastStatusPosition_ = position;
      sysexOpen_ = b == 0xF0;
      pendingMessage_ = b != 0xF7 && dataBytesOf(b) > 0;
    }
    snd_seq_event_t ev;
    ev.type = SND_SEQ_EVENT_NONE;
    if (snd_midi_event_encode_byte(coder_, b, &ev) <= 0) return;
    if (realtime) {
      if (auto event = eventOf(ev, counts)) keyed.emplace_back(position, std::move(*event));
      return;
    }
    const bool runningStatus = !statusSinceCompletion_;
    statusSinceCompletion_ = false;
    pendingMessage_ = false;
    if (ev.type == SND_SEQ_EVENT_NONE) return;  // 0xF4, 0xF5, a lone 0xF7
    if (ev.type == SND_SEQ_EVENT_SYSEX) {
      sysexOpen_ = false;
      if (auto event = eventOf(ev, counts)) keyed.emplace_back(position, std::move(*event));
      return;
    }
    if (runningStatus) {
      ++counts[Difference::RunningStatus];
      return;
    }
    if (auto event = eventOf(ev, counts)) {
      keyed.emplace_back(lastStatusPosition_, std::move(*event));
    }
  }

  static std::optional<Event> eventOf(const snd_seq_event_t& ev, DifferenceCounts& counts) {
    Event e;
    const auto& note = ev.data.note;
    const auto& control = ev.data.control;
    switch (ev.type) {
      case SND_SEQ_EVENT_NOTEON:
        e = eventWith(0x90 | note.channel, note.note, note.velocity);
        if (note.velocity == 0) {
          ++counts[Difference::NoteOnVelocityZero];
          e.status = 0x80 | note.channel;
        }
        return e;
      case SND_SEQ_EVENT_NOTEOFF:
        return eventWith(0x80 | note.channel, note.note, note.velocity);
      case SND_SEQ_EVENT_KEYPRESS:
        return eventWith(0xA0 | note.channel, note.note, note.velocity);
      case SND_SEQ_EVENT_CONTROLLER:
        return eventWith(0xB0 | control.channel, static_cast<int>(control.param), control.value);
      case SND_SEQ_EVENT_PGMCHANGE:
        return eventWith(0xC0 | control.channel, control.value);
      case SND_SEQ_EVENT_CHANPRESS:
        return eventWith(0xD0 | control.channel, control.value);
      case SND_SEQ_EVENT_PITCHBEND:
        return eventWith(0xE0 | control.channel, (control.value + 8192) & 0x7F,
                         (control.value + 8192) >> 7);
      case SND_SEQ_EVENT_QFRAME:
        return eventWith(0xF1, control.value);
      case SND_SEQ_EVENT_SONGPOS:
        return eventWith(0xF2, control.value & 0x7F, control.value >> 7);
      case SND_SEQ_EVENT_SONGSEL:
        return eventWith(0xF3, control.value);
      case SND_SEQ_EVENT_TUNE_REQUEST:
        return eventWith(0xF6);
      case SND_SEQ_EVENT_CLOCK:
        return eventWith(0xF8);
      case SND_SEQ_EVENT_START:
        return eventWith(0xFA);
      case SND_SEQ_EVENT_CONTINUE:
        return eventWith(0xFB);
      case SND_SEQ_EVENT_STOP:
        return eventWith(0xFC);
      case SND_SEQ_EVENT_SENSING:
        return eventWith(0xFE);
      case SND_SEQ_EVENT_RESET:
        return eventWith(0xFF);
      case SND_SEQ_EVENT_SYSEX: {
        const auto* data = static_cast<const Byte*>(ev.data.ext.ptr);
        const size_t length = ev.data.ext.len;
        if (length < 2 || data[0] != 0xF0 || data[length - 1] != 0xF7) {
          ADD_FAILURE() << "ALSA cut a sysex into chunks";
          return std::nullopt;
        }
        if (length == 2) {
          ++counts[Difference::EmptySysex];
          return std::nullopt;
        }
        e.status = 0xF0;
        e.sysex.assign(data + 1, data + length - 1);
        return e;
      }
      default:
        ADD_FAILURE() << "unexpected ALSA event type " << int(ev.type);
        return std::nullopt;
    }
  }

  snd_midi_event_t* coder_ = nullptr;
  uint64_t position_ = 0;
  uint64_t lastStatusPosition_ = 0;
  bool statusSinceCompletion_ = false;
  bool sysexOpen_ = false;
  bool pendingMessage_ = false;
  bool firstList_ = true;
};

// Sessions of packet lists: random bytes, or a plausible stream with
// mutations (bytes replaced, dropped, status bytes inserted), cut at random.
class SessionGenerator {
 public:
  explicit SessionGenerator(uint32_t seed) : random_(seed) {}

  std::vector<PacketList> session() {
    const Bytes stream = below(5) < 2 ? noise(below(1200)) : mutated(plausible(below(300)));
    std::vector<PacketList> lists(1 + below(16));
    size_t at = 0;
    for (size_t l = 0; l < lists.size(); ++l) {
      const bool last = l + 1 == lists.size();
      const int packets = below(7);
      for (int p = 0; p < packets || (last && at < stream.size()); ++p) {
        const size_t length = last && p >= packets
                                  ? stream.size() - at
                                  : std::min<size_t>(below(65), stream.size() - at);
        lists[l].emplace_back(stream.begin() + at, stream.begin() + at + length);
        at += length;
      }
    }
    return lists;
  }

 private:
  Bytes noise(size_t length) {
    Bytes bytes(length);
    for (auto& b : bytes) b = below(10) < 7 ? below(128) : 0x80 + below(128);
    return bytes;
  }

  Bytes plausible(int messages) {
    Bytes bytes;
    for (int i = 0; i < messages; ++i) {
      const int kind = below(20);
      const Byte channel = below(16);
      if (kind < 6) {
        bytes.insert(bytes.end(), {Byte(0x90 | channel), data(), below(4) ? data() : Byte(0)});
      } else if (kind < 8) {
        bytes.insert(bytes.end(), {Byte(0x80 | channel), data(), data()});
      } else if (kind < 10) {
        bytes.insert(bytes.end(), {Byte(0xB0 | channel), data(), data()});
        if (below(4) == 0) bytes.insert(bytes.end(), {data(), data()});  // running status
      } else if (kind < 11) {
        bytes.insert(bytes.end(), {Byte(0xE0 | channel), data(), data()});
      } else if (kind < 12) {
        bytes.insert(bytes.end(), {Byte(below(2) ? 0xC0 | channel : 0xD0 | channel), data()});
      } else if (kind < 13) {
        bytes.insert(bytes.end(), {Byte(0xA0 | channel), data(), data()});
      } else if (kind < 14) {
        const Byte common = 0xF1 + below(6);
        bytes.push_back(common);
        for (int d = dataBytesOf(common); d > 0; --d) bytes.push_back(data());
      } else if (kind < 16) {
        bytes.push_back(0xF8 + below(8));
      } else {
        bytes.push_back(0xF0);
        for (int n = below(3) == 0 ? 0 : below(40); n > 0; --n) {
          bytes.push_back(below(12) == 0 ? Byte(0xF8 + below(8)) : data());
        }
        bytes.push_back(0xF7);
      }
    }
    return bytes;
  }

  Bytes mutated(const Bytes& stream) {
    Bytes out;
    for (Byte b : stream) {
      const int dice = below(100);
      if (dice == 0) continue;                          // dropped
      if (dice == 1) out.push_back(0x80 + below(128));  // a status byte inserted
      out.push_back(dice == 2 ? Byte(below(256)) : b);  // replaced
    }
    return out;
  }

  Byte data() { return below(128); }
  Byte below(int n) {
    return static_cast<Byte>(std::uniform_int_distribution<int>(0, n - 1)(random_));
  }
  int below(size_t n) {
    return std::uniform_int_distribution<int>(0, static_cast<int>(n) - 1)(random_);
  }

  std::mt19937 random_;
};

std::string hexOf(const std::vector<PacketList>& lists) {
  std::ostringstream text;
  text << std::hex << std::uppercase;
  for (const auto& list : lists) {
    for (const auto& packet : list) {
      for (Byte b : packet) text << (b < 16 ? "0" : "") << int(b) << " ";
      text << "/ ";
    }
    text << "// ";
  }
  return text.str();
}

template <class T>
std::string listOf(const std::vector<T>& items) {
  std::ostringstream text;
  for (const auto& item : items) text << "{" << item << "} ";
  return text.str();
}

// A million lists; a tenth under the sanitizers, which run far slower. The
// environment variable WEX_DIFFERENTIAL_LISTS sets another number.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr uint64_t kDefaultLists = 100000;
#else
constexpr uint64_t kDefaultLists = 1000000;
#endif

uint64_t listsToCompare() {
  if (const char* value = std::getenv("WEX_DIFFERENTIAL_LISTS")) {
    return std::strtoull(value, nullptr, 10);
  }
  return kDefaultLists;
}

TEST(AlsaDifferentialTest, ProjectAndAlsaAgreeOnEveryMessageExceptTheNamedDifferences) {
  SystemLog::Capture quiet;  // refused empty sysex messages log their BAIL line
  AlsaParser alsa;
  ASSERT_TRUE(alsa.ready());
  SessionGenerator generator(20261207);
  DifferenceCounts counts;
  const uint64_t total = listsToCompare();
  uint64_t lists = 0;
  uint64_t messages = 0;
  while (lists < total) {
    const auto session = generator.session();
    ProjectParser project;
    alsa.startSession();
    for (const auto& list : session) {
      const auto expected = alsa.parse(list, counts);
      const auto actual = project.parse(list, counts);
      ASSERT_TRUE(actual == expected)
          << "project: " << listOf(actual) << "\nALSA:    " << listOf(expected) << "\nlist "
          << lists << " of the session " << hexOf(session);
      messages += actual.size();
      ++lists;
    }
    if (lists % 4096 < session.size()) quiet.clear();
  }
  std::cout << lists << " packet lists, " << messages << " messages agreed; differences:\n";
  for (Difference d = Difference::NoteOnVelocityZero;
       d != Difference::SysexAbandonedAfter128Callbacks;
       d = static_cast<Difference>(static_cast<int>(d) + 1)) {
    std::cout << "  " << nameOf(d) << ": " << counts[d] << "\n";
    EXPECT_GT(counts[d], 0u) << nameOf(d) << " never arose: the generator misses a case";
  }
}

TEST(AlsaDifferentialTest, ASysexOpenFor129FurtherCallbacksIsAbandonedWhereAlsaDeliversIt) {
  AlsaParser alsa;
  ASSERT_TRUE(alsa.ready());
  ProjectParser project;
  DifferenceCounts counts;
  alsa.startSession();
  std::vector<Event> fromAlsa;
  std::vector<Event> fromProject;
  const std::vector<PacketList> session = [] {
    std::vector<PacketList> lists{{{0xF0, 0x01}}};
    for (int i = 0; i < 129; ++i) lists.push_back({{0x02}});
    lists.push_back({{0x03, 0xF7}});
    return lists;
  }();
  {
    SystemLog::Capture quiet;
    for (const auto& list : session) {
      for (auto& e : alsa.parse(list, counts)) fromAlsa.push_back(e);
      for (auto& e : project.parse(list, counts)) fromProject.push_back(e);
    }
  }
  ASSERT_EQ(fromAlsa.size(), 1u);
  EXPECT_EQ(fromAlsa[0].sysex.size(), 131u);
  EXPECT_TRUE(fromProject.empty()) << nameOf(Difference::SysexAbandonedAfter128Callbacks);
}

}  // namespace
}  // namespace wex
