#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midiio/MIDIFileReader.h"

namespace wex {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes header(uint16_t format, uint16_t tracks, uint16_t division = 480) {
  return {'M',
          'T',
          'h',
          'd',
          0,
          0,
          0,
          6,
          0,
          static_cast<uint8_t>(format),
          0,
          static_cast<uint8_t>(tracks),
          static_cast<uint8_t>(division >> 8),
          static_cast<uint8_t>(division)};
}

// A track chunk of the given events; `length` overrides its length field.
Bytes track(const Bytes& events, int64_t length = -1) {
  const auto size = static_cast<uint32_t>(length < 0 ? events.size() : length);
  Bytes chunk = {'M', 'T', 'r', 'k'};
  for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(static_cast<uint8_t>(size >> shift));
  for (uint8_t byte : events) chunk.push_back(byte);
  return chunk;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Note ons a tick apart, in running status after the first, and the end.
Bytes notes(size_t count) {
  Bytes events = {0x00, 0x90, 60, 100};
  for (size_t i = 1; i < count; ++i) events.insert(events.end(), {0x00, 60, 100});
  events.insert(events.end(), {0x00, 0xFF, 0x2F, 0x00});
  return events;
}

MIDIFileReader::Result read(const Bytes& file) {
  return MIDIFileReader::read(file.data(), file.size());
}

const Bytes kEnd{0x00, 0xFF, 0x2F, 0x00};

TEST(MIDIFileReader, ReadsRunningStatusSysexPiecesEscapesAndTempoChangesAcrossTracks) {
  const Bytes tempoTrack = join({{0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20},        // 120 a minute
                                 {0x87, 0x40, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40},  // 60, at 1 s
                                 kEnd});
  const Bytes notes = join({{0x00, 0x90, 60, 100},
                            {0x87, 0x40, 62, 100},           // running status, 1 s
                            {0x00, 0xF0, 0x02, 0x7E, 0x01},  // a sysex in two pieces
                            {0x10, 0xF7, 0x02, 0x02, 0xF7},
                            {0x00, 0xF7, 0x01, 0xF8},   // an escaped clock byte
                            {0x87, 0x30, 0x80, 60, 0},  // 3 s: 2 more at the new tempo
                            kEnd});
  const auto result = read(join({header(1, 2), track(tempoTrack), track(notes)}));
  EXPECT_TRUE(result.damages.empty()) << result.damages.front();
  const std::vector<std::pair<double, Bytes>> expected = {
      {0.0, {0x90, 60, 100}},            // note on channel 1 C4 velocity 100
      {1.0, {0x90, 62, 100}},            // note on channel 1 D4 velocity 100
      {1.0, {0xF0, 0x7E, 0x01}},         // the sysex's first piece
      {1.0 + 16.0 / 480, {0x02, 0xF7}},  // its last piece
      {1.0 + 16.0 / 480, {0xF8}},        // clock
      {3.0, {0x80, 60, 0}}};             // note off channel 1 C4 velocity 0
  ASSERT_EQ(result.events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(result.events[i].seconds, expected[i].first, 1e-9) << i;
    EXPECT_EQ(result.events[i].bytes, expected[i].second) << i;
  }
}

TEST(MIDIFileReader, TicksBecomeSecondsByQuarterNotesOrByFrames) {
  struct Division {
    const char* what;
    uint16_t division;
    Bytes delta;  // of the one note, as a variable-length number
    double seconds;
  } rows[] = {
      {"480 a quarter note at the default 120 a minute", 480, {0x83, 0x60}, 0.5},
      {"25 frames a second of 40 ticks", 0xE728, {0x87, 0x68}, 1.0},
      {"29.97 frames a second of 100 ticks", 0xE364, {0x97, 0x35}, 1.0},
      {"30 frames a second of 100 ticks", 0xE264, {0x97, 0x38}, 1.0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Bytes events = row.delta;
    events.insert(events.end(), {0x90, 60, 100});
    const auto result = read(join({header(0, 1, row.division), track(join({events, kEnd}))}));
    ASSERT_EQ(result.events.size(), 1u);
    EXPECT_NEAR(result.events[0].seconds, row.seconds, 1e-9);
  }
}

TEST(MIDIFileReader, ATrackWithoutItsEndOfTrackIsWhole) {
  const auto result = read(join({header(0, 1), track({0x00, 0x90, 60, 100, 0x60, 0x80, 60, 0})}));
  EXPECT_TRUE(result.damages.empty());
  EXPECT_EQ(result.events.size(), 2u);
}

struct Damage {
  const char* name;
  Bytes file;
  std::string expected;
};

class MIDIFileDamageTest : public ::testing::TestWithParam<Damage> {};

TEST_P(MIDIFileDamageTest, IsNamedWithItsPlace) {
  const auto result = read(GetParam().file);
  ASSERT_FALSE(result.damages.empty());
  EXPECT_EQ(result.damages.front(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, MIDIFileDamageTest,
    ::testing::Values(
        Damage{"NoHeader",
               {'R', 'I', 'F', 'F', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
               "not a Standard MIDI File: it does not begin with a header chunk (MThd)"},
        Damage{"TrackEndsInsideAnEvent", join({header(0, 1), track({0x00, 0x90, 60})}),
               "track 1 ends inside an event at byte 22"},
        Damage{"LengthPastTheEnd", join({header(0, 1), track({0x00, 0x90, 60, 1}, 1000)}),
               "track 1: its length 1000 goes past the end of the file at byte 18"},
        Damage{"AnnouncedTrackAbsent", join({header(1, 2), track(kEnd)}),
               "the header announces 2 tracks, the file holds 1"},
        Damage{"FiveByteLength",
               join({header(0, 1), track({0x00, 0xF0, 0x81, 0x81, 0x81, 0x81, 0x01, 0xF7})}),
               "track 1: a variable-length number longer than 4 bytes at byte 24"},
        Damage{"DataWithoutStatus", join({header(0, 1), track({0x00, 0x40, 0x40})}),
               "track 1: a data byte without a running status at byte 23"},
        Damage{"RunningStatusAfterAMetaEvent",
               join({header(0, 1),
                     track({0x00, 0x90, 60, 100, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x40, 0x40})}),
               "track 1: a data byte without a running status at byte 31"},
        Damage{"StatusInsideAMessage", join({header(0, 1), track({0x00, 0x90, 0x90, 0x40})}),
               "track 1: a status byte where a data byte belongs at byte 24"},
        Damage{"SystemByteAsAnEvent", join({header(0, 1), track({0x00, 0xF4})}),
               "track 1: the system message byte 0xF4 where an event belongs at byte 22"},
        Damage{"FormatTwo", join({header(2, 1), track(kEnd)}),
               "format 2 (independent sequences) cannot be played: only formats 0 and 1 can"},
        Damage{"ChunkHeaderCut", join({header(0, 1), track(kEnd), {'M', 'T'}}),
               "the file ends inside a chunk header at byte 26"},
        Damage{"MoreEventsThanAFileMayHold",
               join({header(0, 1), track(notes(MIDIFileReader::kMaxEvents + 1))}),
               "track 1: more than 1000000 events in the file at byte 3000026"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace wex
