#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "services/MIDIPacketList.h"
#include "services/MIDIPacketListAppender.h"

namespace wex {
namespace {

// The appender keeps its own place in the list; it must build exactly the
// lists of MIDIPacketListAdd and refuse exactly what that refuses, also after
// being cleared in the middle of a list.
TEST(MIDIPacketListAppenderTest, BuildsTheSameListsAsMIDIPacketListAddForAnySequenceOfEvents) {
  std::mt19937 random(11);
  auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  for (int round = 0; round < 2000; ++round) {
    const ByteCount listSize = 4 + below(300);
    std::vector<Byte> viaAppender(listSize, 0xAA);
    std::vector<Byte> viaAdd(listSize, 0xAA);
    auto* addList = reinterpret_cast<MIDIPacketList*>(viaAdd.data());
    MIDIPacketListAppender appender(reinterpret_cast<MIDIPacketList*>(viaAppender.data()),
                                    listSize);
    MIDIPacket* addPacket = MIDIPacketListInit(addList);
    for (int event = 0; event < 60; ++event) {
      if (below(40) == 0) {
        appender.clear();
        addPacket = MIDIPacketListInit(addList);
      }
      const bool sysex = below(5) == 0;
      std::vector<Byte> bytes(sysex ? 2 + below(100) : 1 + below(3));
      for (auto& b : bytes) b = static_cast<Byte>(below(0x80));
      bytes[0] = sysex ? 0xF0 /* sysex start */ : static_cast<Byte>(0x80 + below(0x70));
      const MIDITimeStamp time = below(4) == 0 ? 1 + below(2) : 0;
      const bool appended = appender.add(time, bytes.data(), bytes.size());
      MIDIPacket* added =
          MIDIPacketListAdd(addList, listSize, addPacket, time, bytes.size(), bytes.data());
      ASSERT_EQ(appended, added != nullptr) << "round " << round << ", event " << event;
      if (added) addPacket = added;
    }
    ASSERT_EQ(viaAppender, viaAdd) << "round " << round;
    EXPECT_EQ(appender.empty(), MIDIPacketListCount(addList) == 0);
  }
}

TEST(MIDIPacketListAppenderTest, ShortEventsAtOneTimeShareAPacketAndASysexTakesItsOwn) {
  std::vector<Byte> bytes(64, 0xAA);
  MIDIPacketListAppender appender(reinterpret_cast<MIDIPacketList*>(bytes.data()), bytes.size());
  const Byte noteOn[] = {0x90 /* note on */, 0x3C, 0x64};
  const Byte clock[] = {0xF8 /* clock */};
  const Byte sysex[] = {0xF0 /* sysex start */, 0x7E, 0xF7 /* sysex end */};
  ASSERT_TRUE(appender.add(0, noteOn, 3));
  ASSERT_TRUE(appender.add(0, clock, 1));
  ASSERT_TRUE(appender.add(0, sysex, 3));
  const std::vector<Byte> expected = {
      2,    0,    0,    0,              // two packets
      0,    0,    0,    0, 0, 0, 0, 0,  // time 0
      4,    0,                          // four bytes
      0x90, 0x3C, 0x64,                 // note on, note 60, velocity 100
      0xF8,                             // clock
      0,    0,    0,    0, 0, 0, 0, 0,  // time 0
      3,    0,                          // three bytes
      0xF0, 0x7E, 0xF7,                 // sysex start, 126, sysex end
  };
  EXPECT_EQ(std::vector<Byte>(bytes.begin(), bytes.begin() + expected.size()), expected);
  EXPECT_EQ(MIDIPacketListByteSize(appender.list()), expected.size());
}

}  // namespace
}  // namespace wex
