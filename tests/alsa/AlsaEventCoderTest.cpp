// Bytes to sequencer events and back, the way the ALSA services send and
// receive: no kernel needed.
#include <gtest/gtest.h>

#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/alsa/AlsaEventCoder.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;

// Encodes the chunks one after another with one coder, and decodes every
// event with a fresh one: the bytes of each event.
std::vector<Bytes> roundTrip(const std::vector<Bytes>& chunks) {
  AlsaEventCoder sender;
  AlsaEventCoder receiver;
  std::vector<Bytes> events;
  for (const Bytes& chunk : chunks) {
    sender.encode(chunk.data(), chunk.size(), [&](snd_seq_event_t& event) {
      Bytes bytes;
      EXPECT_TRUE(receiver.decode(event, &bytes));
      events.push_back(bytes);
      return true;
    });
  }
  return events;
}

Bytes sysexOf(size_t dataBytes) {
  Bytes sysex{0xF0};
  for (size_t i = 0; i < dataBytes; ++i) sysex.push_back(static_cast<Byte>(i % 128));
  sysex.push_back(0xF7);
  return sysex;
}

TEST(AlsaEventCoder, EveryKindOfMessageComesBackAsTheSameBytes) {
  const std::vector<Bytes> messages = {
      {0x90, 60, 100},   // note on channel 1 C4 velocity 100
      {0x80, 60, 0},     // note off channel 1 C4 velocity 0
      {0xA3, 1, 2},      // poly pressure channel 4 C#-1 value 2
      {0xB0, 7, 127},    // control change channel 1 controller 7 value 127
      {0xC5, 12},        // program change channel 6 program 12
      {0xDF, 64},        // channel pressure channel 16 value 64
      {0xE0, 0, 64},     // pitch bend channel 1 8192 (centre)
      {0xF1, 0x35},      // quarter frame 53
      {0xF2, 1, 2},      // song position 257
      {0xF3, 5},         // song select 5
      {0xF6},            // tune request
      {0xF8},            // clock
      {0xFA},            // start
      {0xFB},            // continue
      {0xFC},            // stop
      {0xFE},            // active sensing
      {0xFF},            // system reset
      {0xF0, 1, 0xF7}};  // sysex of 1 data byte
  for (const Bytes& message : messages) {
    const auto events = roundTrip({message});
    ASSERT_EQ(events.size(), 1u) << "status " << int(message[0]);
    EXPECT_EQ(events[0], message) << "status " << int(message[0]);
  }
}

TEST(AlsaEventCoder, RunningStatusAndMessagesCutAcrossListsGoOutWhole) {
  // note on channel 1 C4 velocity 100, D4 velocity 101 by running status, control change
  // channel 1 controller 7 value 90: cut across four lists
  const auto events = roundTrip({{0x90, 60}, {100, 62, 101}, {0xB0, 7}, {90}});
  const std::vector<Bytes> expected = {{0x90, 60, 100}, {0x90, 62, 101}, {0xB0, 7, 90}};
  EXPECT_EQ(events, expected);
}

TEST(AlsaEventCoder, ALongSysexLeavesInPiecesThatJoinToTheWholeMessage) {
  const Bytes sysex = sysexOf(2998);  // 3000 bytes with F0 and F7
  // Cut at odd places, as packet lists may cut it.
  const std::vector<Bytes> chunks = {Bytes(sysex.begin(), sysex.begin() + 7),
                                     Bytes(sysex.begin() + 7, sysex.begin() + 1300),
                                     Bytes(sysex.begin() + 1300, sysex.end())};
  const auto pieces = roundTrip(chunks);
  ASSERT_EQ(pieces.size(),
            (sysex.size() + AlsaEventCoder::kSysexPiece - 1) / AlsaEventCoder::kSysexPiece);
  Bytes joined;
  for (const Bytes& piece : pieces) {
    EXPECT_LE(piece.size(), AlsaEventCoder::kSysexPiece);
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, sysex);
}

TEST(AlsaEventCoder, ARealtimeByteInsideASysexLeavesAtOnceAndTheSysexStaysWhole) {
  Bytes sysex = sysexOf(300);
  Bytes withClock = sysex;
  withClock.insert(withClock.begin() + 100, 0xF8);
  const auto events = roundTrip({withClock});
  Bytes joined;
  int clocks = 0;
  for (const Bytes& event : events) {
    if (event == Bytes{0xF8}) {
      ++clocks;
      EXPECT_TRUE(joined.size() < sysex.size()) << "the clock waited for the sysex";
      continue;
    }
    joined.insert(joined.end(), event.begin(), event.end());
  }
  EXPECT_EQ(clocks, 1);
  EXPECT_EQ(joined, sysex);
}

TEST(AlsaEventCoder, EventsWithoutMIDIDecodeToNothing) {
  AlsaEventCoder coder;
  snd_seq_event_t event;
  snd_seq_ev_clear(&event);
  event.type = SND_SEQ_EVENT_PORT_START;
  Bytes bytes;
  EXPECT_FALSE(coder.decode(event, &bytes));
  EXPECT_TRUE(bytes.empty());
}

// What the reader builds, one packet per event, read by the program's read
// callback: the sysex pieces come out as one message.
class CollectingTarget : public OrvMIDIReadTarget {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    received.insert(received.end(), messages.begin(), messages.end());
  }
  OrvMIDIMessageList received;
};

TEST(AlsaEventCoder, SysexPiecesAsConsecutivePacketsReachTheReaderAsOneMessage) {
  const Bytes sysex = sysexOf(2998);
  const auto pieces = roundTrip({Bytes{0x90, 60, 100}, sysex, Bytes{0x80, 60, 0}});
  CollectingTarget target;
  // Split over two lists, as the reader does when a list fills.
  MIDIPacketListBuffer first(8192);
  MIDIPacketListBuffer second(8192);
  for (size_t i = 0; i < pieces.size(); ++i) (i < 5 ? first : second).addPacket(pieces[i]);
  myMIDIReadProc(first.list(), static_cast<OrvMIDIReadTarget*>(&target), nullptr);
  myMIDIReadProc(second.list(), static_cast<OrvMIDIReadTarget*>(&target), nullptr);
  ASSERT_EQ(target.received.size(), 3u);
  EXPECT_EQ(target.received[0]->type(), 0x90);
  ASSERT_EQ(target.received[1]->type(), 0xF0);
  const auto& data = *target.received[1]->sysexArray();
  EXPECT_EQ(Bytes(data.begin(), data.end()), Bytes(sysex.begin() + 1, sysex.end() - 1));
  EXPECT_EQ(target.received[2]->type(), 0x80);
}

}  // namespace
}  // namespace wex
