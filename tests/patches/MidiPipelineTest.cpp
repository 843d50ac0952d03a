#include <gtest/gtest.h>

#include "PatchCompositionFixture.h"
#include "patches/MIDI_NoteDistributorPlugIn.h"

namespace wex {
namespace {

class MIDIPipelineTest : public PatchCompositionFixture {
 protected:
  MIDIPipelineTest() : PatchCompositionFixture(true) {}
};

// composer -> collector -> sender -> loopback bus -> receiver -> distributor
TEST_F(MIDIPipelineTest, ComposedNoteOnTravelsThroughTheLoopbackToTheNoteDistributorsPorts) {
  composition->addPatch("note", "MIDI_MessagePlugIn");
  composition->addPatch("group", "MIDI_GroupPlugIn");
  composition->addPatch("tx", "MIDI_SenderPlugIn");
  composition->addPatch("rx", "MIDI_ReceiverPlugIn");
  auto& notes = add<MIDI_NoteDistributorPlugIn>("notes", "MIDI_NoteDistributorPlugIn");
  notes.enableNotePort(60);
  composition->connect({"note", "outputMessage"}, {"group", "message0"});
  composition->connect({"group", "outputMessages"}, {"tx", "inputMessages"});
  composition->connect({"rx", "outputMessages"}, {"notes", "inputMessages"});
  set("note", "inputMessageType", Value::index(1));  // note on
  set("note", "inputData1", Value::index(60));
  set("note", "inputData2", Value::index(100));

  tick();
  ASSERT_TRUE(services->waitUntilDelivered(10));
  tick();
  EXPECT_EQ(output("notes", "note60"), Value::boolean(true));
  EXPECT_EQ(output("notes", "velocity60"), Value::index(100));

  set("note", "inputMessageType", Value::index(0));  // note off
  set("note", "inputData2", Value::index(64));
  tick();
  ASSERT_TRUE(services->waitUntilDelivered(10));
  tick();
  EXPECT_EQ(output("notes", "note60"), Value::boolean(false));
  EXPECT_EQ(output("notes", "velocity60"), Value::index(64));
}

}  // namespace
}  // namespace wex
