#include <gtest/gtest.h>

#include "PatchCompositionFixture.h"
#include "patches/MIDI_SenderPlugIn.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;

// A sender leaves no note sounding on a destination: whatever ends its
// sending (the end of the composition, a destination switched off) first
// sends a note off for every note on whose note off it did not send.
class SenderSoundingNotesTest : public PatchCompositionFixture {
 protected:
  SenderSoundingNotesTest() {
    synth = services->createDeviceDestination("Synth");
    drums = services->createDeviceDestination("Drums");
    add<MIDI_SenderPlugIn>("tx", "MIDI_SenderPlugIn");
  }

 public:
  static Value noteValue(int status, int note, int velocity) {
    return number((status << 16) | (note << 8) | velocity);
  }

 protected:
  void sendEach(const std::vector<Value>& messages) {
    for (const Value& message : messages) {
      set("tx", "inputMessages", list({message}));
      tick();
    }
  }
  Bytes takeReceived(MIDIEndpointRef destination) {
    EXPECT_TRUE(services->waitUntilDelivered(10));
    auto recording = services->recording(destination);
    Bytes bytes = recording->bytes();
    recording->clear();
    return bytes;
  }
  void endComposition() { composition.reset(); }

  MIDIEndpointRef synth = 0;
  MIDIEndpointRef drums = 0;
};

struct SoundingCase {
  const char* name;
  std::vector<Value> sent;
  Bytes releasedAtTheEnd;
};

class SenderReleasesAtTheEnd : public SenderSoundingNotesTest,
                               public testing::WithParamInterface<SoundingCase> {};

TEST_P(SenderReleasesAtTheEnd, OnlyTheNotesLeftSoundingByChannelAndNote) {
  sendEach(GetParam().sent);
  takeReceived(synth);
  endComposition();
  EXPECT_EQ(takeReceived(synth), GetParam().releasedAtTheEnd);
}

using S = SenderSoundingNotesTest;
INSTANTIATE_TEST_SUITE_P(
    Sequences, SenderReleasesAtTheEnd,
    testing::Values(
        SoundingCase{"NoteOnLeftSounding", {S::noteValue(0x90, 60, 100)}, {0x80, 60, 64}},
        SoundingCase{
            "NoteOnThenNoteOff", {S::noteValue(0x90, 60, 100), S::noteValue(0x80, 60, 0)}, {}},
        SoundingCase{"NoteOnThenNoteOnWithVelocityZero",
                     {S::noteValue(0x90, 60, 100), S::noteValue(0x90, 60, 0)},
                     {}},
        SoundingCase{"SameNoteOnTwoChannelsAndTwiceOnOne",
                     {S::noteValue(0x93, 64, 1), S::noteValue(0x90, 60, 100),
                      S::noteValue(0x90, 60, 90), S::noteValue(0x9F, 127, 127)},
                     // note offs velocity 64: channel 1 C4, channel 4 E4, channel 16 G9
                     {0x80, 60, 64, 0x83, 64, 64, 0x8F, 127, 64}},
        SoundingCase{
            "AllNotesOffClearsOnlyItsChannel",
            {S::noteValue(0x90, 60, 100), S::noteValue(0x91, 61, 100), S::noteValue(0xB0, 123, 0)},
            {0x81, 61, 64}},
        SoundingCase{"NoteOffOnAnotherChannelLeavesTheNoteSounding",
                     {S::noteValue(0x90, 60, 100), S::noteValue(0x81, 60, 0)},
                     {0x80, 60, 64}},
        SoundingCase{"SysexAndControlChangesLeaveNothing",
                     {S::text("1,2,3"), S::noteValue(0xB0, 7, 100)},
                     {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SenderSoundingNotesTest, ManySoundingNotesAreAllReleasedAcrossSeveralPacketLists) {
  std::vector<Value> chord;
  for (int channel = 0; channel < 16; ++channel) {
    for (int note = 0; note < 128; ++note) chord.push_back(noteValue(0x90 | channel, note, 1));
  }
  set("tx", "inputMessages", list(chord));
  tick();
  takeReceived(synth);
  endComposition();
  const Bytes released = takeReceived(synth);
  ASSERT_EQ(released.size(), 16u * 128u * 3u);
  EXPECT_EQ((Bytes{released[0], released[1], released[2]}), (Bytes{0x80, 0, 64}));
  EXPECT_EQ((Bytes{released.end() - 3, released.end()}), (Bytes{0x8F, 127, 64}));
}

TEST_F(SenderSoundingNotesTest, DestinationSwitchedOffInThePanelGetsItsNoteOffsFirst) {
  sendEach({noteValue(0x90, 60, 100)});
  takeReceived(synth);
  takeReceived(drums);
  auto& panel = *composition->openPanel("tx");
  ASSERT_EQ(cell(panel, "name", 1), text("Drums"));
  edit(panel, "enabled", 1, Value::index(0));
  EXPECT_EQ(takeReceived(drums), (Bytes{0x80, 60, 64}));
  EXPECT_EQ(takeReceived(synth), Bytes{});
  // Switched on again it starts from silence: nothing is released twice.
  edit(panel, "enabled", 1, Value::index(1));
  endComposition();
  EXPECT_EQ(takeReceived(drums), Bytes{});
  EXPECT_EQ(takeReceived(synth), (Bytes{0x80, 60, 64}));
}

TEST_F(SenderSoundingNotesTest, NotesSentBeforeThePanelRebuiltTheListAreStillReleased) {
  sendEach({noteValue(0x90, 60, 100)});
  composition->openPanel("tx");
  composition->closePanel("tx");
  takeReceived(synth);
  endComposition();
  EXPECT_EQ(takeReceived(synth), (Bytes{0x80, 60, 64}));
}

}  // namespace
}  // namespace wex
