#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIMessagePool.h"

namespace wex {
namespace {

TEST(OrvMIDIMessagePoolTest, BlocksAliveAtOnceAreDistinctAlignedAndReusedOnceReleased) {
  std::vector<void*> blocks;
  std::set<uintptr_t> addresses;
  for (int i = 0; i < 1500; ++i) {  // several slabs and batches
    void* block = OrvMIDIMessagePool::allocateBlock();
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % alignof(std::max_align_t), 0u);
    std::memset(block, i & 0xFF, OrvMIDIMessagePool::kBlockSize);
    blocks.push_back(block);
    addresses.insert(reinterpret_cast<uintptr_t>(block));
  }
  EXPECT_EQ(addresses.size(), blocks.size());
  for (void* block : blocks) OrvMIDIMessagePool::releaseBlock(block);
  void* again = OrvMIDIMessagePool::allocateBlock();
  EXPECT_TRUE(addresses.count(reinterpret_cast<uintptr_t>(again)));
  OrvMIDIMessagePool::releaseBlock(again);
}

// The read callback makes messages on a MIDI thread; patches release them on
// the evaluation thread, and threads come and go.
TEST(OrvMIDIMessagePoolTest, MessagesMadeOnOneThreadAndReleasedOnAnotherKeepTheirFields) {
  std::mutex mutex;
  std::vector<OrvMIDIMessagePtr> handedOver;
  for (int round = 0; round < 4; ++round) {
    std::thread maker([&] {
      for (int i = 0; i < 3000; ++i) {
        auto message = OrvMIDIMessage::createFromVals(0x90, i % 16, i % 128, (i + 1) % 128);
        std::lock_guard lock(mutex);
        handedOver.push_back(std::move(message));
      }
    });
    std::thread releaser([&] {
      for (int taken = 0; taken < 3000;) {
        std::vector<OrvMIDIMessagePtr> batch;
        {
          std::lock_guard lock(mutex);
          batch.swap(handedOver);
        }
        for (const auto& message : batch) {
          EXPECT_EQ(message->type(), 0x90);
          EXPECT_EQ(message->data2(), (message->data1() + 1) % 128);
        }
        taken += static_cast<int>(batch.size());
      }
    });
    maker.join();
    releaser.join();
  }
}

}  // namespace
}  // namespace wex
