#include <gtest/gtest.h>

#include <vector>

#include "midi/FeedbackWatch.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

constexpr size_t kKept = FeedbackWatch::kSendsKept;
constexpr size_t kEchoes = FeedbackWatch::kEchoesForALoop;

struct KeptSendsCase {
  const char* name;
  size_t sentBefore;  // other messages sent earlier, which move the ring on
  size_t othersFirst;
  size_t echoedSent;
  size_t othersAfter;
  bool loopReported;
};

void PrintTo(const KeptSendsCase& c, std::ostream* os) {
  *os << c.name;
}

// A loop is reported on the kEchoesForALoop-th echo after the first, so it
// takes exactly kEchoesForALoop + 1 echoed messages still kept in the ring.
class FeedbackWatchKeptSends : public testing::TestWithParam<KeptSendsCase> {};

TEST_P(FeedbackWatchKeptSends, OnlyTheLastSendsAreKeptAcrossTheRingsEnd) {
  const KeptSendsCase& c = GetParam();
  FeedbackWatch watch;
  std::vector<uint64_t> earlier(c.sentBefore);
  for (size_t i = 0; i < earlier.size(); ++i) earlier[i] = 0x1000 + i;
  watch.sent("bus", earlier.data(), earlier.size());

  const auto echoed = OrvMIDIMessage::createFromVals(0x90, 0, 60, 100);  // note on C4
  const uint64_t other =
      FeedbackWatch::fingerprint(*OrvMIDIMessage::createFromVals(0x90, 0, 62, 1));
  std::vector<uint64_t> prints(c.othersFirst, other);
  prints.insert(prints.end(), c.echoedSent, FeedbackWatch::fingerprint(*echoed));
  prints.insert(prints.end(), c.othersAfter, other);
  watch.sent("bus", prints.data(), prints.size());

  SystemLog::Capture capture;
  for (int i = 0; i <= FeedbackWatch::kEchoesForALoop; ++i) watch.received("loop", *echoed);
  EXPECT_EQ(capture.lines().size(), c.loopReported ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sends, FeedbackWatchKeptSends,
    testing::Values(KeptSendsCase{"AllKeptAcrossTheEnd", kKept - 5, 0, kEchoes + 1, 0, true},
                    KeptSendsCase{"LastOfALongSendKept", 100, kKept, kEchoes + 1, 0, true},
                    KeptSendsCase{"FirstOfALongSendDropped", 100, 0, kEchoes + 1, kKept - kEchoes,
                                  false},
                    KeptSendsCase{"OneTooFewKept", 0, 0, kEchoes, 0, false}),
    [](const auto& info) { return info.param.name; });

// A runaway loop: each message goes to a monitor first and to a client that
// passes it back, among a thousand other sends, and comes back from that
// client. The loop is named after the client's ports, not the monitor.
TEST(FeedbackWatch, ARunawayLoopThroughAClientIsNamedAfterItsPortsAmongManySends) {
  FeedbackWatch watch;
  SystemLog::Capture capture;
  std::vector<uint64_t> others(1000);
  for (size_t i = 0; i < others.size(); ++i) others[i] = 0x1000 + i;
  for (int round = 0; round < 2 * FeedbackWatch::kEchoesForALoop; ++round) {
    const auto note = OrvMIDIMessage::createFromVals(0x90, 0, 60 + round % 4, 100);
    const uint64_t print = FeedbackWatch::fingerprint(*note);
    watch.sent("midi-monitor:input", &print, 1);
    watch.sent("echo:in", &print, 1);
    watch.sent("synth:in", others.data(), others.size());
    watch.received("echo:out", *note);
  }
  EXPECT_EQ(capture.lines(),
            std::vector<std::string>{"feedback loop: what is sent to \"echo:in\" comes back from "
                                     "\"echo:out\", over and over; switch one of them off in "
                                     "the sender's or the receiver's panel"});
}

}  // namespace
}  // namespace wex
