#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "services/MIDIPacketList.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;

struct Event {
  MIDITimeStamp time;
  Bytes bytes;
  bool ownPacket = false;  // MIDIPacketListAddPacket instead of MIDIPacketListAdd
};

struct Packet {
  MIDITimeStamp time;
  Bytes bytes;
  bool operator==(const Packet&) const = default;
};

struct ListCase {
  const char* name;
  std::vector<Event> events;
  std::vector<bool> accepted;  // per event: whether the add returned a packet
  std::vector<Packet> packets;
};

Bytes sysex(size_t elements) {
  Bytes bytes(elements + 2, 0x01);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  return bytes;
}

std::vector<Packet> packetsOf(const MIDIPacketList* list) {
  std::vector<Packet> packets;
  MIDIPacketIterator iterator(list);
  MIDIPacketView view;
  while (iterator.next(view))
    packets.push_back({view.timeStamp, Bytes(view.data, view.data + view.length)});
  return packets;
}

class MIDIPacketListCases : public testing::TestWithParam<ListCase> {};

TEST_P(MIDIPacketListCases, AddsEventsAsExpectedIntoA1024ByteList) {
  const ListCase& c = GetParam();
  std::vector<Byte> storage(1024);
  auto* list = reinterpret_cast<MIDIPacketList*>(storage.data());
  MIDIPacket* current = MIDIPacketListInit(list);
  for (size_t i = 0; i < c.events.size(); ++i) {
    const Event& e = c.events[i];
    MIDIPacket* added =
        e.ownPacket
            ? MIDIPacketListAddPacket(list, 1024, current, e.time, e.bytes.size(), e.bytes.data())
            : MIDIPacketListAdd(list, 1024, current, e.time, e.bytes.size(), e.bytes.data());
    EXPECT_EQ(added != nullptr, c.accepted[i]) << "event " << i;
    if (added) current = added;
  }
  EXPECT_EQ(packetsOf(list), c.packets);
  EXPECT_EQ(MIDIPacketListCount(list), c.packets.size());
}

const Bytes kNote{0x90, 0x3C, 0x64};  // note on channel 1 C4 velocity 100
const Bytes kClock{0xF8};             // clock

Bytes withNote(Bytes bytes) {
  bytes.insert(bytes.end(), kNote.begin(), kNote.end());
  return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    RoomAndMerging, MIDIPacketListCases,
    testing::Values(
        ListCase{"SysexOf1008ElementsFitsAlone", {{0, sysex(1008)}}, {true}, {{0, sysex(1008)}}},
        ListCase{"SysexOf1009ElementsDoesNotFit", {{0, sysex(1009)}}, {false}, {}},
        ListCase{"ShortEventsWithTheSameTimeShareAPacket",
                 {{0, kNote}, {0, kClock}},
                 {true, true},
                 {{0, {0x90, 0x3C, 0x64, 0xF8}}}},
        ListCase{"EventsWithDifferentTimesGetPacketsOfTheirOwn",
                 {{0, kNote}, {5, kClock}},
                 {true, true},
                 {{0, kNote}, {5, kClock}}},
        ListCase{"SysexNeverSharesAPacket",
                 {{0, kNote}, {0, sysex(2)}, {0, kClock}},
                 {true, true, true},
                 {{0, kNote}, {0, sysex(2)}, {0, kClock}}},
        ListCase{"AddPacketNeverMerges",
                 {{0, kNote}, {0, kClock, true}},
                 {true, true},
                 {{0, kNote}, {0, kClock}}},
        ListCase{"AFullListRefusesTheNextEventAndKeepsWhatItHolds",
                 {{0, sysex(1000)}, {0, kNote}, {0, kClock}},
                 {true, false, false},
                 {{0, sysex(1000)}}},
        ListCase{"AMergeUsesTheLastBytesOfTheListAndThenRefuses",
                 // 4 + 10 + 1007 bytes used: the note fills the 3 bytes left.
                 {{0, Bytes(1007, 0x01), true}, {0, kNote}, {0, kClock}},
                 {true, true, false},
                 {{0, withNote(Bytes(1007, 0x01))}}}),
    [](const testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST(MIDIPacketList, PacketsLieDirectlyAfterEachOtherInNativeByteOrderWithoutPadding) {
  MIDIPacketListBuffer buffer(64);
  const Byte first[] = {0xC1};
  const Byte second[] = {0x90, 0x3C};
  ASSERT_TRUE(buffer.addPacket(first, 1, 7));
  ASSERT_TRUE(buffer.addPacket(second, 2, 9));
  const auto* raw = reinterpret_cast<const Byte*>(buffer.list());

  uint32_t count;
  std::memcpy(&count, raw, 4);
  MIDITimeStamp time;
  uint16_t length;
  std::memcpy(&time, raw + 15, 8);
  std::memcpy(&length, raw + 23, 2);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(raw[14], 0xC1);
  EXPECT_EQ(time, 9u);
  EXPECT_EQ(length, 2u);
  EXPECT_EQ(raw[25], 0x90);
  EXPECT_EQ(buffer.byteSize(), 4u + 11u + 12u);
}

TEST(MIDIPacketList, InitEmptiesTheListAndReturnsItsFirstPacketSlot) {
  MIDIPacketListBuffer buffer;
  ASSERT_TRUE(buffer.add(kNote.data(), kNote.size()));
  MIDIPacket* first = MIDIPacketListInit(buffer.list());
  EXPECT_EQ(MIDIPacketListCount(buffer.list()), 0u);
  EXPECT_EQ(reinterpret_cast<Byte*>(first), reinterpret_cast<Byte*>(buffer.list()) + 4);
  EXPECT_TRUE(packetsOf(buffer.list()).empty());
}

}  // namespace
}  // namespace wex
