#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "services/MIDIPacketList.h"

namespace wex {
namespace {

// MIDIPacketListAdd takes an inline shortcut for short events; it must build
// exactly the lists, and give exactly the results, of the full add.
TEST(MIDIPacketListShortcutTest, BuildsTheSameListsAsTheFullAddForAnySequenceOfEvents) {
  std::mt19937 random(7);
  auto below = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
  for (int round = 0; round < 2000; ++round) {
    const ByteCount listSize = 16 + below(200);
    std::vector<Byte> viaShortcut(listSize, 0xAA);
    std::vector<Byte> viaFullAdd(listSize, 0xAA);
    auto* shortcutList = reinterpret_cast<MIDIPacketList*>(viaShortcut.data());
    auto* fullList = reinterpret_cast<MIDIPacketList*>(viaFullAdd.data());
    MIDIPacket* shortcutPacket = MIDIPacketListInit(shortcutList);
    MIDIPacket* fullPacket = MIDIPacketListInit(fullList);
    for (int event = 0; event < 40 && shortcutPacket; ++event) {
      std::vector<Byte> bytes(below(5));
      for (auto& b : bytes) b = static_cast<Byte>(below(4) == 0 ? 0xF0 : below(256));
      const MIDITimeStamp time = below(3) == 0 ? 1 : 0;
      MIDIPacket* fromShortcut = MIDIPacketListAdd(shortcutList, listSize, shortcutPacket, time,
                                                   bytes.size(), bytes.data());
      MIDIPacket* fromFullAdd =
          MIDIPacketListAddEvent(fullList, listSize, fullPacket, time, bytes.size(), bytes.data());
      ASSERT_EQ(fromShortcut == nullptr, fromFullAdd == nullptr);
      if (!fromShortcut) break;
      ASSERT_EQ(reinterpret_cast<Byte*>(fromShortcut) - viaShortcut.data(),
                reinterpret_cast<Byte*>(fromFullAdd) - viaFullAdd.data());
      shortcutPacket = fromShortcut;
      fullPacket = fromFullAdd;
    }
    ASSERT_EQ(viaShortcut, viaFullAdd) << "round " << round;
  }
}

}  // namespace
}  // namespace wex
