#include <gtest/gtest.h>

#include <vector>

#include "services/jack/JackMessageSplitter.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;

// Feeds each chunk as one packet and collects the messages cut out.
std::vector<Bytes> split(const std::vector<Bytes>& packets, JackMessageSplitter& splitter) {
  std::vector<Bytes> messages;
  for (const Bytes& packet : packets) {
    splitter.feed(packet.data(), packet.size(), [&](const Byte* data, size_t length) {
      messages.emplace_back(data, data + length);
    });
  }
  return messages;
}

struct SplitCase {
  const char* what;
  std::vector<Bytes> packets;
  std::vector<Bytes> messages;
};

void PrintTo(const SplitCase& splitCase, std::ostream* out) {
  *out << splitCase.what;
}

class JackMessageSplitterTable : public ::testing::TestWithParam<SplitCase> {};

TEST_P(JackMessageSplitterTable, CutsPacketBytesIntoWholeMessages) {
  JackMessageSplitter splitter;
  EXPECT_EQ(split(GetParam().packets, splitter), GetParam().messages) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JackMessageSplitterTable,
    ::testing::Values(
        SplitCase{"channel messages of one packet",
                  // note on channel 1 C4 velocity 100, program change channel 2 program 5,
                  // control change channel 1 controller 7 value 127
                  {{0x90, 0x3C, 0x64, 0xC1, 0x05, 0xB0, 0x07, 0x7F}},
                  {{0x90, 0x3C, 0x64}, {0xC1, 0x05}, {0xB0, 0x07, 0x7F}}},
        SplitCase{"running status",
                  // note on channel 1 C4 velocity 100, then D4 velocity 0 by running status
                  {{0x90, 0x3C, 0x64, 0x3E, 0x00}},
                  {{0x90, 0x3C, 0x64}, {0x90, 0x3E, 0x00}}},
        SplitCase{"system common and realtime",
                  // song position 8192, song select 5, tune request, clock, start
                  {{0xF2, 0x00, 0x40, 0xF3, 0x05, 0xF6, 0xF8, 0xFA}},
                  {{0xF2, 0x00, 0x40}, {0xF3, 0x05}, {0xF6}, {0xF8}, {0xFA}}},
        SplitCase{"a sysex over three packets",
                  {{0xF0, 0x7E}, {0x7F, 0x06}, {0x01, 0xF7}},
                  {{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}}},  // sysex: identity request
        SplitCase{"a clock inside a sysex goes out first",
                  {{0xF0, 0x01, 0xF8, 0x02, 0xF7}},  // sysex of 2 data bytes, clock between them
                  {{0xF8}, {0xF0, 0x01, 0x02, 0xF7}}},
        SplitCase{"an empty sysex", {{0xF0, 0xF7}}, {{0xF0, 0xF7}}},
        SplitCase{"a sysex cut short by a status is dropped",
                  {{0xF0, 0x01, 0x02, 0x90, 0x3C, 0x64}},
                  {{0x90, 0x3C, 0x64}}},  // note on channel 1 C4 velocity 100
        SplitCase{"data bytes without a status are dropped", {{0x3C, 0x64, 0xF7, 0x01}}, {}},
        SplitCase{
            "a message split between packets", {{0x90}, {0x3C}, {0x64}}, {{0x90, 0x3C, 0x64}}}));

TEST(JackMessageSplitter, AVeryLongSysexGoesOutInFragmentsThatAddUpToIt) {
  Bytes sysex{0xF0};
  for (size_t i = 0; i < JackMessageSplitter::kMaxSysexFragment * 2; ++i) {
    sysex.push_back(static_cast<Byte>(i & 0x7F));
  }
  sysex.push_back(0xF7);
  JackMessageSplitter splitter;
  const auto messages = split({sysex}, splitter);
  ASSERT_EQ(messages.size(), 3u);
  Bytes joined;
  for (const auto& message : messages) {
    EXPECT_LE(message.size(), JackMessageSplitter::kMaxSysexFragment);
    joined.insert(joined.end(), message.begin(), message.end());
  }
  EXPECT_EQ(joined, sysex);
}

// The longest event the server takes sets the pieces: a sysex of that many
// bytes goes whole, one a byte longer in two, F0 first and F7 last.
TEST(JackMessageSplitter, ASysexUpToTheLongestEventGoesWholeAndALongerOneInPiecesOfIt) {
  constexpr size_t kLongest = 10;
  const Bytes fits{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 0xF7};
  const Bytes longer{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0xF7};
  JackMessageSplitter splitter;
  splitter.setMaxEventLength(kLongest);
  EXPECT_EQ(split({fits}, splitter), std::vector<Bytes>{fits});
  EXPECT_EQ(split({longer}, splitter),
            (std::vector<Bytes>{{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0xF7}}));
}

}  // namespace
}  // namespace wex
