#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "midi/SendPacker.h"
#include "services/MIDIPacketList.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;
using NoteOffs = std::vector<std::array<Byte, 3>>;

// Any message a sender may be handed: every status, absent-byte markers and
// data bytes with the top bit set (which go out masked), sysex of any length,
// and nulls.
OrvMIDIMessagePtr randomMessage(std::mt19937& random) {
  auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  auto data = [&] {
    const int kind = below(8);
    if (kind == 0) return OrvMIDIMessage::kAbsentData1;
    if (kind == 1) return static_cast<uint8_t>(0x80 + below(0x80));
    return static_cast<uint8_t>(below(0x80));
  };
  switch (below(12)) {
    case 0:
      return nullptr;
    case 1:
      return OrvMIDIMessage::createWithSysexArray(std::vector<int32_t>(below(300), 0x11));
    case 2:
      return OrvMIDIMessage::createFromVals(static_cast<uint8_t>(0xF1 + below(15)), 0, data(),
                                            data());
    case 3:  // all notes off, all sound off or another controller
      return OrvMIDIMessage::createFromVals(0xB0, below(16), below(2) ? 123 - 3 * below(2) : data(),
                                            data());
    default: {
      const uint8_t kinds[] = {0x80, 0x90, 0x90, 0xA0, 0xC0, 0xD0, 0xE0};
      return OrvMIDIMessage::createFromVals(kinds[below(7)], below(16), below(4), data());
    }
  }
}

// The notes left sounding as the sender has always counted them, from the
// message fields.
NoteOffs expectedNoteOffs(const std::vector<OrvMIDIMessagePtr>& sent) {
  std::map<std::pair<int, int>, bool> sounding;
  for (const auto& msg : sent) {
    if (!msg) continue;
    const int channel = msg->channel() & 0x0F;
    const int note = msg->data1() & 0x7F;
    if (msg->type() == 0x90) sounding[{channel, note}] = (msg->data2() & 0x7F) != 0;
    if (msg->type() == 0x80) sounding[{channel, note}] = false;
    if (msg->type() == 0xB0 && (note == 120 || note == 123)) {
      for (int n = 0; n < 128; ++n) sounding[{channel, n}] = false;
    }
  }
  NoteOffs noteOffs;
  for (const auto& [key, on] : sounding) {
    if (on) noteOffs.push_back({Byte(0x80 | key.first), Byte(key.second), 64});
  }
  return noteOffs;
}

// The packer writes short messages a word at a time from a run of its own;
// what it builds must be exactly the list that MIDIPacketListAdd builds of
// each message's wire bytes, refused where that refuses, and the notes it
// hands on those of the messages that went into the list.
TEST(SendPackerTest, BuildsTheListsOfMIDIPacketListAddAndHandsOnTheNotesOfWhatItPacked) {
  std::mt19937 random(15);
  auto packer = std::make_unique<SendPacker>();
  for (int round = 0; round < 400; ++round) {
    constexpr ByteCount kListSize = 1024;
    Bytes viaPacker(kListSize, 0xAA);
    Bytes viaAdd(kListSize, 0xAA);
    MIDIPacketListAppender appender(reinterpret_cast<MIDIPacketList*>(viaPacker.data()), kListSize);
    auto* addList = reinterpret_cast<MIDIPacketList*>(viaAdd.data());
    MIDIPacket* addPacket = MIDIPacketListInit(addList);

    std::vector<OrvMIDIMessagePtr> msgs(std::uniform_int_distribution<int>(1, 500)(random));
    for (auto& msg : msgs) msg = randomMessage(random);
    const OrvMIDIMessage* expectedRefusal = nullptr;
    std::vector<OrvMIDIMessagePtr> packed;
    for (const auto& msg : msgs) {
      if (!msg) continue;
      Bytes bytes(msg->wireLength());
      msg->writeWireBytes(bytes.data());
      MIDIPacket* added =
          MIDIPacketListAdd(addList, kListSize, addPacket, 0, bytes.size(), bytes.data());
      if (!added) {
        expectedRefusal = msg.get();
        break;
      }
      addPacket = added;
      packed.push_back(msg);
    }

    const OrvMIDIMessage* refused = packer->pack(msgs.data(), msgs.data() + msgs.size(), appender);
    ASSERT_EQ(refused, expectedRefusal) << "round " << round;
    if (refused) continue;
    const ByteCount used = MIDIPacketListByteSize(addList);
    ASSERT_EQ(MIDIPacketListByteSize(appender.list()), used) << "round " << round;
    ASSERT_EQ(Bytes(viaPacker.begin(), viaPacker.begin() + used),
              Bytes(viaAdd.begin(), viaAdd.begin() + used))
        << "round " << round;
    SoundingNotes notes;
    packer->noteSent(notes);
    ASSERT_EQ(notes.takeNoteOffs(), expectedNoteOffs(packed)) << "round " << round;
  }
}

}  // namespace
}  // namespace wex
