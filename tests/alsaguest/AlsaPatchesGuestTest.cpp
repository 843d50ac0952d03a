// The receiver and sender patches in a composition on the ALSA services,
// against the kernel's virtual raw MIDI card (snd-virmidi), which the tests
// load, unplug and load again while the composition runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "services/alsa/AlsaMIDIServices.h"
#include "shared/CompositionDriver.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;

constexpr const char* kReceiver = CompositionDriver::kReceiver;
constexpr const char* kSender = CompositionDriver::kSender;

template <typename Done>
bool waitFor(Done done, std::chrono::milliseconds timeout = 3000ms) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

bool contains(const std::vector<Value>& values, const Value& value) {
  return std::find(values.begin(), values.end(), value) != values.end();
}

// The virmidi card: its endpoint's name and raw MIDI device, found among the
// services' sources; empty while there is none.
struct Virmidi {
  std::string name;
  std::string device;

  static Virmidi find(MIDIServices& services) {
    const std::string prefix = "Virtual Raw MIDI ";
    for (ItemCount i = 0; i < services.MIDIGetNumberOfSources(); ++i) {
      std::optional<std::string> name;
      services.MIDIObjectGetStringProperty(services.MIDIGetSource(i), kMIDIPropertyName, &name);
      if (!name || name->rfind(prefix, 0) != 0) continue;
      const std::string card = name->substr(prefix.size(), name->find('-') - prefix.size());
      return {*name, "/dev/snd/midiC" + card + "D0"};
    }
    return {};
  }
};

void loadVirmidi() {
  ASSERT_EQ(std::system("modprobe snd-virmidi midi_devs=1"), 0);
}

// Pulls the card out as a USB device's disconnect does: unbinding its
// platform device deletes its sequencer ports even while they are subscribed
// to (a subscription holds the module, so rmmod alone would refuse), and the
// module can be unloaded after.
void unplugVirmidi() {
  const std::filesystem::path driver = "/sys/bus/platform/drivers/snd_virmidi";
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(driver, error)) {
    const std::string device = entry.path().filename().string();
    if (device.rfind("snd_virmidi.", 0) != 0) continue;
    std::ofstream unbind(driver / "unbind");
    unbind << device << std::flush;
    EXPECT_TRUE(unbind.good()) << "unbinding " << device;
  }
  EXPECT_EQ(std::system("rmmod snd_virmidi"), 0);
}

// Writes `bytes` to the raw MIDI device, as the program behind the card
// would; they leave the card's sequencer port as events.
bool writeRaw(const std::string& device, const Bytes& bytes) {
  const int fd = ::open(device.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool written = ::write(fd, bytes.data(), bytes.size()) == ssize_t(bytes.size());
  ::close(fd);
  return written;
}

// Plays a note on the card until the receiver puts it out (a write before the
// receiver's subscription is made again reaches nobody).
bool playUntilReceived(CompositionDriver& composition, const std::string& device, Byte note) {
  const Value heard = messageNumber(0x90, note, 100);
  return waitFor(
      [&] {
        writeRaw(device, {0x90, note, 100});
        return waitFor([&] { return contains(composition.received(), heard); }, 200ms);
      },
      4000ms);
}

class AlsaPatchesGuest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::system("rmmod snd_virmidi 2>/dev/null");
    std::string error;
    services_ = AlsaMIDIServices::open("wexmidi", &error);
    ASSERT_TRUE(services_) << error;
    composition_ = std::make_unique<CompositionDriver>(services_);
  }
  void TearDown() override {
    // The patches' subscriptions go with them, and with them the module's
    // users.
    composition_.reset();
    services_.reset();
    std::system("rmmod snd_virmidi 2>/dev/null");
  }

  // Waits until the services list the card (or, for `present` false, no
  // card) and returns it.
  Virmidi waitForVirmidi(bool present) {
    Virmidi card;
    EXPECT_TRUE(waitFor([&] {
      card = Virmidi::find(*services_);
      return card.name.empty() != present;
    })) << (present ? "the virmidi source did not appear" : "the virmidi source did not go");
    return card;
  }

  std::shared_ptr<AlsaMIDIServices> services_;
  std::unique_ptr<CompositionDriver> composition_;
};

TEST_F(AlsaPatchesGuest, TheReceiverFollowsVirmidiLoadedUnpluggedAndLoadedAgainWhileItRuns) {
  composition_->addReceiver();
  composition_->start();

  // Appears: listed once the panel rescans, then heard.
  loadVirmidi();
  Virmidi card = waitForVirmidi(true);
  ASSERT_FALSE(card.name.empty());
  EXPECT_TRUE(composition_->panelLists(kReceiver, card.name));
  composition_->closePanel(kReceiver);
  ASSERT_TRUE(playUntilReceived(*composition_, card.device, 60)) << card.device;

  // Goes and comes back with no panel opened: the receiver's connection to it
  // is made again by itself.
  unplugVirmidi();
  waitForVirmidi(false);
  const uint64_t ticks = composition_->tickCount();
  EXPECT_TRUE(waitFor([&] { return composition_->tickCount() > ticks + 5; }))
      << "the composition stopped evaluating";
  loadVirmidi();
  card = waitForVirmidi(true);
  EXPECT_TRUE(playUntilReceived(*composition_, card.device, 61)) << card.device;

  // Goes while the panel rescans, so it is no longer listed; back, it is
  // listed and heard again.
  unplugVirmidi();
  const std::string name = card.name;
  waitForVirmidi(false);
  EXPECT_FALSE(composition_->panelLists(kReceiver, name));
  composition_->closePanel(kReceiver);
  loadVirmidi();
  card = waitForVirmidi(true);
  EXPECT_EQ(card.name, name);
  EXPECT_TRUE(composition_->panelLists(kReceiver, card.name));
  composition_->closePanel(kReceiver);
  EXPECT_TRUE(playUntilReceived(*composition_, card.device, 62)) << card.device;
}

// The program behind a virmidi card that passes everything it is sent back
// out, byte for byte: what a sender sends to the card's port comes back from
// the same port.
class RawMidiEcho {
 public:
  explicit RawMidiEcho(const std::string& device)
      : fd_(::open(device.c_str(), O_RDWR | O_CLOEXEC)) {
    if (fd_ < 0) return;
    // The card passes events on to a reader only once it has read or polled:
    // what it is sent before is dropped.
    pollfd ready{fd_, POLLIN, 0};
    ::poll(&ready, 1, 0);
    thread_ = std::thread([this] { run(); });
  }
  ~RawMidiEcho() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) ::close(fd_);
  }
  RawMidiEcho(const RawMidiEcho&) = delete;
  RawMidiEcho& operator=(const RawMidiEcho&) = delete;

  bool open() const { return fd_ >= 0; }
  Bytes echoed() {
    std::lock_guard lock(mutex_);
    return echoed_;
  }

 private:
  void run() {
    Byte buffer[512];
    while (!stop_) {
      pollfd ready{fd_, POLLIN, 0};
      if (::poll(&ready, 1, 20) <= 0) continue;
      const ssize_t got = ::read(fd_, buffer, sizeof buffer);
      if (got <= 0) continue;
      if (::write(fd_, buffer, got) != got) return;
      std::lock_guard lock(mutex_);
      echoed_.insert(echoed_.end(), buffer, buffer + got);
    }
  }

  const int fd_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  Bytes echoed_;
  std::thread thread_;
};

TEST_F(AlsaPatchesGuest, WhatTheSenderSendsToVirmidiComesBackFromItIntoTheReceiver) {
  loadVirmidi();
  const Virmidi card = waitForVirmidi(true);
  ASSERT_FALSE(card.name.empty());
  auto echo = std::make_unique<RawMidiEcho>(card.device);
  ASSERT_TRUE(echo->open()) << card.device;
  composition_->addReceiver();
  composition_->addSender();
  // The card's port is both a source and a destination of the same name.
  composition_->enableOnly(kReceiver, {card.name});
  composition_->enableOnly(kSender, {card.name});
  composition_->closePanel(kReceiver);
  composition_->closePanel(kSender);
  composition_->start();

  const Bytes sysex = sysexOfLength(1002);
  const std::vector<Value> sent{messageNumber(0x91, 0x3C, 0x64), messageNumber(0xB2, 0x07, 0x7F),
                                sysexString(sysex), messageNumber(0xE5, 0x00, 0x40),
                                messageNumber(0x81, 0x3C, 0x00)};
  composition_->send(sent);

  ASSERT_TRUE(waitFor([&] { return composition_->received().size() >= sent.size(); }))
      << "received " << composition_->received().size() << " of " << sent.size()
      << ", the card was sent " << echo->echoed().size() << " bytes";
  const std::vector<Value> received = composition_->received();
  EXPECT_EQ(std::vector<Value>(received.begin(), received.begin() + sent.size()), sent);
  Bytes expected;
  for (const Bytes& part : {Bytes{0x91, 0x3C, 0x64, 0xB2, 0x07, 0x7F}, sysex,
                            Bytes{0xE5, 0x00, 0x40, 0x81, 0x3C, 0x00}})
    expected.insert(expected.end(), part.begin(), part.end());
  const Bytes echoed = echo->echoed();
  ASSERT_GE(echoed.size(), expected.size());
  EXPECT_EQ(Bytes(echoed.begin(), echoed.begin() + expected.size()), expected);

  // Unplugged and loaded again, the card is sent to and heard from again
  // (its device has to be closed first: unplugging waits for that).
  echo.reset();
  unplugVirmidi();
  waitForVirmidi(false);
  loadVirmidi();
  const Virmidi back = waitForVirmidi(true);
  ASSERT_EQ(back.name, card.name);
  echo = std::make_unique<RawMidiEcho>(back.device);
  ASSERT_TRUE(echo->open()) << back.device;
  const Value again = messageNumber(0x92, 0x40, 0x50);
  composition_->send({again});
  EXPECT_TRUE(waitFor([&] { return contains(composition_->received(), again); }))
      << "the card was sent " << echo->echoed().size() << " bytes";
}

}  // namespace
}  // namespace wex::test
