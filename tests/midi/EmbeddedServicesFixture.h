#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <vector>

#include "midi/FeedbackWatch.h"
#include "midi/OrvMIDIDelegateProtocol.h"
#include "midi/OrvMIDIMessage.h"
#include "services/embedded/EmbeddedMIDIServices.h"
#include "support/SystemLog.h"

namespace wex {

// A delegate that keeps everything it is told.
class RecordingDelegate : public OrvMIDIDelegateProtocol {
 public:
  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    std::lock_guard lock(mutex_);
    lists_.push_back(messages);
  }
  void setupChanged() override { ++setupChanges; }

  std::vector<OrvMIDIMessageList> lists() const {
    std::lock_guard lock(mutex_);
    return lists_;
  }
  // Every message received, as the bytes it goes out as.
  std::vector<std::vector<Byte>> wireMessages() const {
    std::vector<std::vector<Byte>> all;
    for (const auto& list : lists()) {
      for (const auto& message : list) {
        std::vector<Byte> bytes(message->wireLength());
        message->writeWireBytes(bytes.data());
        all.push_back(bytes);
      }
    }
    return all;
  }

  std::atomic<int> setupChanges{0};

 private:
  mutable std::mutex mutex_;
  std::vector<OrvMIDIMessageList> lists_;
};

// Installs fresh embedded MIDI services for each test and captures the log.
class EmbeddedServicesFixture : public ::testing::Test {
 protected:
  explicit EmbeddedServicesFixture(bool withLoopbackBus = true)
      : services(std::make_shared<EmbeddedMIDIServices>(withLoopbackBus)) {
    installMIDIServices(services);
    FeedbackWatch::shared().reset();
  }
  ~EmbeddedServicesFixture() override { installMIDIServices(nullptr); }

  void waitForDelivery() { ASSERT_TRUE(services->waitUntilDelivered(10)); }

  // Declared first so that it outlives every node and manager of a test.
  RecordingDelegate delegate;
  std::shared_ptr<EmbeddedMIDIServices> services;
  SystemLog::Capture log;
};

}  // namespace wex
