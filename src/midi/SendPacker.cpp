#include "midi/SendPacker.h"

#include <bit>
#include <cstring>

#include "services/MIDIStatus.h"

namespace wex {

namespace {

// What packing needs to know of a message by its type, in two tables, so
// that each takes one instruction with the type as index. The bytes a short
// message takes on the wire; more than any run's room for a sysex, whose
// length is its own, so that it takes the ordinary way.
constexpr std::array<uint16_t, 256> kShortLengths = [] {
  std::array<uint16_t, 256> lengths{};
  for (int type = 0; type < 256; ++type) {
    const auto status = static_cast<uint8_t>(type);
    lengths[type] = status == kMIDISysexStart ? 0xFFFF : 1 + midiDataByteCount(status);
  }
  return lengths;
}();
// Types that concern the sounding notes.
constexpr std::array<uint8_t, 256> kConcernsNotes = [] {
  std::array<uint8_t, 256> flags{};
  for (int type = 0; type < 256; ++type) flags[type] = SoundingNotes::concerns(type);
  return flags;
}();

// A short message's wire bytes, from the lowest byte up: the status, then
// data1 and data2 below 0x80 (an absent-byte marker sent as it is would
// reach the wire as a status byte).
inline uint32_t shortWireBytes(uint32_t fields) {
  return fields & 0x7F7FFF;
}

// Writes them in one store, and after them a byte that the next event
// overwrites; the run keeps room for it.
inline void writeShortWireBytes(Byte* at, uint32_t wire) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(at, &wire, sizeof wire);
  } else {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<Byte>(wire >> (8 * i));
  }
}

}  // namespace

static_assert(MIDIPacketListAppender::kRunSlack >= 3, "a short message is written as 4 bytes");

const OrvMIDIMessage* SendPacker::pack(const OrvMIDIMessagePtr* begin, const OrvMIDIMessagePtr* end,
                                       MIDIPacketListAppender& appender, MIDITimeStamp time) {
  // Kept in locals, which the byte stores cannot touch, so that they stay
  // in registers.
  size_t notes = 0;
  size_t prints = 0;
  const OrvMIDIMessage* refused = nullptr;
  auto run = appender.beginRun(time);
  for (const OrvMIDIMessagePtr* it = begin; it != end; ++it) {
    const OrvMIDIMessage* msg = it->get();
    if (!msg) continue;
    const uint32_t fields = msg->fields();
    const uint8_t type = fields >> 24;
    const uint16_t length = kShortLengths[type];
    const uint32_t wire = shortWireBytes(fields);
    uint64_t print = fields;
    if (length <= run.room) [[likely]] {
      writeShortWireBytes(run.at, wire);
      run.at += length;
      run.room -= length;
    } else {
      appender.endRun(run);
      if (!packSlowly(*msg, appender, time)) {
        refused = msg;
        break;
      }
      print = FeedbackWatch::fingerprint(*msg);
      run = appender.beginRun(time);
    }
    // Real-time messages too: the watch never matches them, and leaving
    // them in spares a test per message.
    prints_[prints++] = print;
    // Written always and kept when it concerns them: no branch.
    noteWires_[notes] = wire;
    notes += kConcernsNotes[type];
  }
  if (!refused) appender.endRun(run);
  noteMessages_ = notes;
  printsWritten_ = prints;
  return refused;
}

bool SendPacker::packSlowly(const OrvMIDIMessage& msg, MIDIPacketListAppender& appender,
                            MIDITimeStamp time) {
  Byte* at = appender.reserveEvent(time, msg.wireLength(), msg.type() == kMIDISysexStart);
  if (!at) return false;
  msg.writeWireBytes(at);
  return true;
}

}  // namespace wex
