#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "PatchCompositionFixture.h"
#include "host/CompositionFile.h"
#include "shared/TestPaths.h"

namespace wex {
namespace {

using namespace std::chrono_literals;

// A receiver wired to a sender, with the loopback bus passing what is sent
// straight back to a source the receiver hears.
class FeedbackLoopTest : public PatchCompositionFixture {
 protected:
  FeedbackLoopTest() : PatchCompositionFixture(true) {
    keys = services->createDeviceSource("Keys");
  }

  std::vector<std::string> feedbackLines() const {
    std::vector<std::string> found;
    for (const auto& line : log.lines()) {
      if (line.rfind("feedback loop:", 0) == 0) found.push_back(line);
    }
    return found;
  }
  // Starts the composition, plays one note on from Keys, and
  // runs until the feedback is reported or `limit` has passed.
  void runWithOneNote(std::chrono::milliseconds limit) {
    composition->start(60);
    ASSERT_EQ(services->feedSourceBytes(keys, {0x90, 0x3C, 0x64}), noErr);
    const auto until = std::chrono::steady_clock::now() + limit;
    while (feedbackLines().empty() && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(5ms);
    }
    composition->stop();
  }

  MIDIEndpointRef keys = 0;
};

TEST_F(FeedbackLoopTest, ALoopThroughTheLoopbackBusIsReportedOnceNamingBothEndpoints) {
  add<QCPlugIn>("in", "MIDI_ReceiverPlugIn");
  add<QCPlugIn>("out", "MIDI_SenderPlugIn");
  composition->connect(PortAddress{"in", "outputMessages"}, PortAddress{"out", "inputMessages"});
  runWithOneNote(10s);
  // It goes on a while longer: still the one line.
  composition->start(60);
  std::this_thread::sleep_for(100ms);
  composition->stop();
  EXPECT_EQ(feedbackLines(),
            std::vector<std::string>{
                "feedback loop: what is sent to \"wexmidi Loopback\" comes back from \"wexmidi "
                "Loopback\", over and over; switch one of them off in the sender's or the "
                "receiver's panel"});
}

TEST_F(FeedbackLoopTest, TheThruExampleLeavesTheLoopbackBusOutAndSoDoesNotLoop) {
  composition = CompositionFile::load(
      std::string(::wex::test::kSourceDir) + "/examples/thru.wexcomp.json", registry);
  const auto synth = services->createDeviceDestination("Synth");
  composition->openPanel("out");  // lists Synth, made after the composition
  composition->closePanel("out");
  runWithOneNote(300ms);
  EXPECT_EQ(feedbackLines(), std::vector<std::string>{});
  ASSERT_TRUE(services->waitUntilDelivered(10));
  EXPECT_EQ(services->recording(synth)->bytes(), (std::vector<Byte>{0x90, 0x3C, 0x64}));
  EXPECT_EQ(services->recording(services->loopbackDestination()), nullptr);
}

TEST_F(FeedbackLoopTest, MessagesSentOnceAndHeardBackAreNoLoop) {
  add<QCPlugIn>("out", "MIDI_SenderPlugIn");
  add<QCPlugIn>("in", "MIDI_ReceiverPlugIn");
  std::vector<Value> notes;
  for (int i = 0; i < 2 * FeedbackWatch::kEchoesForALoop; ++i) {
    notes.push_back(number(0x900000 | (i % 128) << 8 | 100));
  }
  set("out", "inputMessages", list(notes));
  tick();
  ASSERT_TRUE(services->waitUntilDelivered(10));
  tick();
  EXPECT_EQ(feedbackLines(), std::vector<std::string>{});
}

}  // namespace
}  // namespace wex
