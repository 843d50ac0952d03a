// Everything at once: MIDI from several device sources arriving on the
// services' delivery thread, the composition evaluating receivers and senders
// on its own thread, panels switching endpoints on and off and rescanning on
// the main thread, and devices coming and going. Afterwards no message may be
// missing on a path that stayed enabled all along.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PatchCompositionFixture.h"
#include "patches/MIDI_ReceiverPlugIn.h"
#include "patches/MessageValue.h"
#include "support/MainThread.h"

namespace wex {
namespace {

using Bytes = std::vector<Byte>;
using Clock = std::chrono::steady_clock;

constexpr auto kStressTime = std::chrono::milliseconds(2500);
// Each feeder stops at this many messages even before the time is up.
constexpr uint32_t kMostMessagesPerSource = 40000;
// The number a message carries wraps at this (two 7-bit data bytes).
constexpr uint32_t kSequenceSpan = 1 << 14;
constexpr int kStableSources = 3;
constexpr int kToggledSources = 2;
// What the sender with a changing list sends: note ons on channel 16, which
// no source sends.
constexpr Byte kChurnSenderStatus = 0x9F;

// A stable source's messages: control changes on the source's channel, and
// every 25th a sysex message whose first data byte names the source; both
// carry the message's sequence number.
Bytes stableMessage(int source, uint32_t sequence) {
  const auto high = static_cast<Byte>((sequence >> 7) & 0x7F);
  const auto low = static_cast<Byte>(sequence & 0x7F);
  if (sequence % 25 == 24) return {0xF0, static_cast<Byte>(0x70 + source), high, low, 0xF7};
  return {static_cast<Byte>(0xB0 + source), high, low};
}

// A toggled source's messages: note ons on channels 9 and 10.
Bytes toggledMessage(int source, uint32_t sequence) {
  return {static_cast<Byte>(0x98 + source), static_cast<Byte>(sequence & 0x7F), 0x40};
}

// Sends messages out of a device source from a thread of its own, one to
// three at a time, until the deadline or the most messages.
class SourceFeeder {
 public:
  SourceFeeder(EmbeddedMIDIServices& services, MIDIEndpointRef source,
               std::function<Bytes(uint32_t)> message, Clock::time_point deadline)
      : thread_([this, &services, source, message, deadline] {
          uint32_t sequence = 0;
          for (int feed = 0; sequence < kMostMessagesPerSource && Clock::now() < deadline; ++feed) {
            Bytes bytes;
            const uint32_t batchEnd = std::min(sequence + 1 + feed % 3, kMostMessagesPerSource);
            for (; sequence < batchEnd; ++sequence) {
              const Bytes one = message(sequence);
              bytes.insert(bytes.end(), one.begin(), one.end());
            }
            if (services.feedSourceBytes(source, bytes) != noErr) ++failures_;
            // A pause after each feed leaves the services' lock to the
            // evaluation and the main thread now and then.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          sent_ = sequence;
        }) {}

  ~SourceFeeder() {
    if (thread_.joinable()) thread_.join();
  }

  // Waits for the thread; then the number of messages sent.
  uint32_t finish() {
    thread_.join();
    EXPECT_EQ(failures_.load(), 0) << "feeds refused";
    return sent_;
  }

 private:
  std::atomic<int> failures_{0};
  uint32_t sent_ = 0;
  std::thread thread_;  // last: starts once the counters above exist
};

// What the stable receiver put out, by source, checked to be every sequence
// number in order.
struct HeardFromSources {
  std::vector<uint32_t> stable = std::vector<uint32_t>(kStableSources, 0);
  uint64_t toggled = 0;
  std::vector<std::string> faults;

  void stableMessageHeard(int source, uint32_t sequence) {
    uint32_t& count = stable[static_cast<size_t>(source)];
    if (sequence != count % kSequenceSpan && faults.size() < 10) {
      faults.push_back("source " + std::to_string(source) + ": message " + std::to_string(count) +
                       " carried " + std::to_string(sequence));
    }
    ++count;
  }

  void add(const Value& value) {
    if (value.isString()) {
      int source = 0, high = 0, low = 0;
      if (std::sscanf(value.asString().c_str(), "%d,%d,%d", &source, &high, &low) == 3 &&
          source >= 0x70 && source < 0x70 + kStableSources) {
        stableMessageHeard(source - 0x70, static_cast<uint32_t>(high << 7 | low));
        return;
      }
    } else if (auto number = MessageValue::messageNumber(value)) {
      const auto status = static_cast<int>(*number >> 16);
      const auto sequence = static_cast<uint32_t>((*number >> 8 & 0x7F) << 7 | (*number & 0x7F));
      if (status >= 0xB0 && status < 0xB0 + kStableSources) {
        stableMessageHeard(status - 0xB0, sequence);
        return;
      }
      if (status >= 0x98 && status < 0x98 + kToggledSources) {
        ++toggled;
        return;
      }
    }
    if (faults.size() < 10) faults.push_back("unexpected value " + ValueJSON::toJSON(value).dump());
  }
};

class StressTest : public PatchCompositionFixture {
 protected:
  // Runs on the main thread and waits for it, as a panel's table would.
  static void onMainThread(const std::function<void()>& task) {
    MainThread::performOnMainThreadAndWait(task);
  }

  // Ticks or unticks the panel's row of that endpoint, if listed.
  static void tickEndpoint(QCPlugInViewController& panel, const std::string& name, bool on) {
    onMainThread([&] {
      for (size_t row = 0; row < rows(panel); ++row) {
        if (cell(panel, "name", row) == text(name)) edit(panel, "enabled", row, Value::index(on));
      }
    });
  }

  // Closes the panel and opens it again, which rescans the endpoints; then
  // flips the tick of a row chosen by the round.
  void rescan(const std::string& patchId, int round) {
    composition->closePanel(patchId);
    QCPlugInViewController& panel = *composition->openPanel(patchId);
    onMainThread([&] {
      const size_t count = rows(panel);
      if (count == 0) return;
      const size_t row = static_cast<size_t>(round) % count;
      edit(panel, "enabled", row, Value::index(cell(panel, "enabled", row) == Value::index(0)));
    });
  }

  // Every value the patch's output took, as the evaluation thread saw them.
  void recordOutputs(const std::string& patchId, std::vector<Value>* values) {
    QCPlugIn* patch = composition->patch(patchId).get();
    uint64_t seen = 0;
    composition->setTickObserver([patch, values, seen](double) mutable {
      auto output = patch->portTable().port(QCPortDirection::Output, "outputMessages");
      if (!output || output->version == seen) return;
      seen = output->version;
      for (const auto& value : output->value.asStructure()->values()) values->push_back(value);
    });
  }
};

Bytes wireBytesOf(const std::vector<Value>& values) {
  Bytes bytes;
  for (const auto& value : values) {
    auto message = MessageValue::read(value);
    if (!message) continue;
    Bytes one(message->wireLength());
    message->writeWireBytes(one.data());
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  return bytes;
}

// The recorded bytes without the packets that the sender with a changing list
// sent.
Bytes bytesNotFromTheChurnSender(const EmbeddedDeviceRecording& recording) {
  Bytes bytes;
  for (const auto& packet : recording.packets()) {
    // Its note ons, and the note offs that release them when its panel
    // switches Synth off.
    if (!packet.bytes.empty() && (packet.bytes.front() == kChurnSenderStatus ||
                                  packet.bytes.front() == (kChurnSenderStatus & ~0x10))) {
      continue;
    }
    bytes.insert(bytes.end(), packet.bytes.begin(), packet.bytes.end());
  }
  return bytes;
}

std::string firstDifference(const Bytes& expected, const Bytes& actual) {
  const auto at = std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end());
  std::ostringstream text;
  text << "expected " << expected.size() << " bytes, recorded " << actual.size()
       << "; first difference at byte " << (at.first - expected.begin());
  return text.str();
}

TEST_F(StressTest, NothingIsLostOnPathsThatStayedEnabledWhilePanelsAndDevicesChurn) {
  std::vector<MIDIEndpointRef> stableSources;
  for (int i = 0; i < kStableSources; ++i) {
    stableSources.push_back(services->createDeviceSource("Stable " + std::to_string(i)));
  }
  std::vector<MIDIEndpointRef> toggledSources;
  for (int i = 0; i < kToggledSources; ++i) {
    toggledSources.push_back(services->createDeviceSource("Toggled " + std::to_string(i)));
  }
  const MIDIEndpointRef synth = services->createDeviceDestination("Synth");
  const MIDIEndpointRef drums = services->createDeviceDestination("Drums");
  const MIDIEndpointRef churnOut = services->createDeviceDestination("Churn Out");

  // rx hears the stable sources all along and the toggled ones on and off;
  // tx sends what rx puts out to Synth, which stays on, and to Drums, which is
  // switched on and off. The churn pair's panels rescan all the time, and
  // txChurn sends its own list at every evaluation.
  auto& rx = add<MIDI_ReceiverPlugIn>("rx", "MIDI_ReceiverPlugIn");
  composition->addPatch("tx", "MIDI_SenderPlugIn");
  composition->addPatch("rxChurn", "MIDI_ReceiverPlugIn");
  composition->addPatch("txChurn", "MIDI_SenderPlugIn");
  composition->connect({"rx", "outputMessages"}, {"tx", "inputMessages"});
  set("txChurn", "inputMessages", list({number(kChurnSenderStatus << 16 | 0x3C << 8 | 0x40)}));
  set("txChurn", "inputResend", Value::boolean(true));
  QCPlugInViewController& rxPanel = *composition->openPanel("rx");
  QCPlugInViewController& txPanel = *composition->openPanel("tx");
  std::vector<Value> heardByRx;
  recordOutputs("rx", &heardByRx);

  composition->start(500);
  const auto deadline = Clock::now() + kStressTime;
  std::vector<std::unique_ptr<SourceFeeder>> stableFeeders;
  for (int i = 0; i < kStableSources; ++i) {
    stableFeeders.push_back(std::make_unique<SourceFeeder>(
        *services, stableSources[static_cast<size_t>(i)],
        [i](uint32_t sequence) { return stableMessage(i, sequence); }, deadline));
  }
  std::vector<std::unique_ptr<SourceFeeder>> toggledFeeders;
  for (int i = 0; i < kToggledSources; ++i) {
    toggledFeeders.push_back(std::make_unique<SourceFeeder>(
        *services, toggledSources[static_cast<size_t>(i)],
        [i](uint32_t sequence) { return toggledMessage(i, sequence); }, deadline));
  }

  int rounds = 0;
  MIDIEndpointRef hotplugSource = 0;
  MIDIEndpointRef hotplugDestination = 0;
  for (; rounds < 10 || Clock::now() < deadline; ++rounds) {
    tickEndpoint(rxPanel, "Toggled " + std::to_string(rounds % kToggledSources), rounds % 4 < 2);
    tickEndpoint(txPanel, "Drums", rounds % 2 == 0);
    rescan("rxChurn", rounds);
    rescan("txChurn", rounds);
    if (rounds % 6 == 0) {
      hotplugSource = services->createDeviceSource("Hotplug");
      hotplugDestination = services->createDeviceDestination("Hotplug Out");
    } else if (rounds % 6 == 3) {
      EXPECT_EQ(services->removeDevice(hotplugSource), noErr);
      EXPECT_EQ(services->removeDevice(hotplugDestination), noErr);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  std::vector<uint32_t> sentByStable;
  for (auto& feeder : stableFeeders) sentByStable.push_back(feeder->finish());
  uint64_t sentByToggled = 0;
  for (auto& feeder : toggledFeeders) sentByToggled += feeder->finish();
  // What is still on its way waits in the receivers, and the last evaluation
  // takes it and sends it on.
  composition->stop();
  ASSERT_TRUE(services->waitUntilDelivered(60));
  tick();
  ASSERT_TRUE(services->waitUntilDelivered(60));

  HeardFromSources heard;
  for (const auto& value : heardByRx) heard.add(value);
  EXPECT_EQ(heard.faults, std::vector<std::string>{});
  EXPECT_EQ(heard.stable, sentByStable);
  EXPECT_LE(heard.toggled, sentByToggled);
  EXPECT_EQ(rx.droppedMessages(), 0u);

  const Bytes expected = wireBytesOf(heardByRx);
  const Bytes recorded = bytesNotFromTheChurnSender(*services->recording(synth));
  EXPECT_TRUE(recorded == expected) << firstDifference(expected, recorded);

  uint64_t stableTotal = 0;
  for (uint32_t sent : sentByStable) stableTotal += sent;
  RecordProperty("stableSent", std::to_string(stableTotal));
  RecordProperty("toggledSent", std::to_string(sentByToggled));
  RecordProperty("toggledHeard", std::to_string(heard.toggled));
  RecordProperty("rxValues", std::to_string(heardByRx.size()));
  RecordProperty("synthBytesFromTx", std::to_string(recorded.size()));
  RecordProperty("synthPackets", std::to_string(services->recording(synth)->packets().size()));
  RecordProperty("drumsPackets", std::to_string(services->recording(drums)->packets().size()));
  RecordProperty("churnOutPackets",
                 std::to_string(services->recording(churnOut)->packets().size()));
  RecordProperty("ticks", std::to_string(composition->tickCount()));
  RecordProperty("panelRounds", std::to_string(rounds));
}

}  // namespace
}  // namespace wex
