#include <gtest/gtest.h>

#include "PatchCompositionFixture.h"
#include "patches/MIDI_SenderPlugIn.h"

namespace wex {
namespace {

using Lines = std::vector<std::string>;

class SenderUnsentTest : public PatchCompositionFixture {
 protected:
  SenderUnsentTest() {
    synth = services->createDeviceDestination("Synth");
    drums = services->createDeviceDestination("Drums");
  }

  MIDIEndpointRef synth = 0;
  MIDIEndpointRef drums = 0;
};

// 1009 data bytes: 1011 on the wire, one more than a packet list holds.
Value tooLongSysex() {
  std::string text = "1";
  for (int i = 1; i < 1009; ++i) text += ",1";
  return Value::string(text);
}

std::string explanation(const std::string& destination, const std::string& reason) {
  return "\tsender \"tx\" could not send a message to \"" + destination + "\": " + reason +
         "; more messages not sent there for this reason are counted, not logged";
}

TEST_F(SenderUnsentTest, EachCauseIsLoggedOncePerDestinationAndEveryMessageNotSentIsCounted) {
  auto& sender = add<MIDI_SenderPlugIn>("tx", "MIDI_SenderPlugIn");
  services->faults().failAlways("MIDISend", -7);
  set("tx", "inputResend", Value::boolean(true));
  set("tx", "inputMessages", list({tooLongSysex(), number(9452644)}));
  for (int i = 0; i < 3; ++i) tick();

  const std::string noRoom = "1011 bytes do not fit in one packet list (at most 1010)";
  const std::string refused =
      "the MIDI services refused it (error -7; the destination may be gone)";
  // Destinations in list order, for each message in element order.
  const std::string first = *sender.midiManager().destNodeNameArray().begin();
  const std::string second = first == "Synth" ? "Drums" : "Synth";
  EXPECT_EQ(log.lines(), (Lines{"\terr adding new sysex packet", explanation(first, noRoom),
                                "\terr adding new sysex packet", explanation(second, noRoom),
                                "\t\terr -7 at MIDISend A", explanation(first, refused),
                                "\t\terr -7 at MIDISend A", explanation(second, refused)}));
  // Two messages to two destinations, three times.
  EXPECT_EQ(sender.unsentMessages(), 12u);

  // Once the cause is gone, messages go out again, and nothing more is logged.
  services->faults().clearAll();
  log.clear();
  set("tx", "inputMessages", list({number(9452644)}));
  tick();
  waitForDelivery();
  EXPECT_EQ(services->recording(synth)->bytes(), (std::vector<Byte>{0x90, 0x3C, 0x64}));
  EXPECT_TRUE(log.lines().empty());
  EXPECT_EQ(sender.unsentMessages(), 12u);
}

}  // namespace
}  // namespace wex
