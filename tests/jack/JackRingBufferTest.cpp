#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "services/jack/JackRingBuffer.h"

namespace wex {
namespace {

std::vector<Byte> frameOf(size_t length, Byte first) {
  std::vector<Byte> bytes(length);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

std::vector<Byte> readNext(JackRingBuffer& ring) {
  std::vector<Byte> bytes(ring.nextFrameLength());
  ring.readFrame(bytes.data());
  return bytes;
}

TEST(JackRingBuffer, FramesComeOutWholeAndInOrderAcrossTheWrapAround) {
  JackRingBuffer ring(64);
  for (int round = 0; round < 20; ++round) {
    const auto first = frameOf(13, static_cast<Byte>(round));
    const auto second = frameOf(7, static_cast<Byte>(100 + round));
    ASSERT_TRUE(ring.writeFrame(first.data(), 13));
    ASSERT_TRUE(ring.writeFrame(second.data(), 7));
    EXPECT_EQ(readNext(ring), first);
    EXPECT_EQ(readNext(ring), second);
  }
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.nextFrameLength(), 0u);
}

TEST(JackRingBuffer, AFrameThatDoesNotFitIsRefusedWithoutWritingAnyOfIt) {
  JackRingBuffer ring(32);
  const auto fits = frameOf(20, 1);
  const auto tooBig = frameOf(20, 50);
  ASSERT_TRUE(ring.writeFrame(fits.data(), 20));
  EXPECT_FALSE(ring.writeFrame(tooBig.data(), 20));
  EXPECT_EQ(readNext(ring), fits);
  EXPECT_TRUE(ring.empty());
  EXPECT_TRUE(ring.writeFrame(tooBig.data(), 20));
  EXPECT_EQ(readNext(ring), tooBig);
}

TEST(JackRingBuffer, ResetDropsWhatIsWaiting) {
  JackRingBuffer ring(64);
  const auto frame = frameOf(5, 9);
  ring.writeFrame(frame.data(), 5);
  ring.reset();
  EXPECT_TRUE(ring.empty());
  EXPECT_EQ(ring.nextFrameLength(), 0u);
}

}  // namespace
}  // namespace wex
