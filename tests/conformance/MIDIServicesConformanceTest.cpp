#include <gtest/gtest.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <list>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "conformance/ConformanceBackend.h"
#include "services/MIDIPacketList.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex::test {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<Byte>;

constexpr double kDeliveryTimeout = 15.0;
constexpr MIDIObjectRef kBogus = 0x7FFFFF01;

bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + 15s;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

MIDIPacketListBuffer listOf(const Bytes& bytes) {
  MIDIPacketListBuffer list(64 + bytes.size());
  list.addPacket(bytes);
  return list;
}

// What a read callback sees: the bytes in arrival order, whether two calls
// ever overlapped, whether one ran on a real-time thread.
struct Reception {
  std::mutex mutex;
  Bytes bytes;
  std::vector<MIDITimeStamp> stamps;    // of each packet
  std::vector<MIDITimeStamp> calledAt;  // steady clock, for each stamp
  std::atomic<int> inside{0};
  std::atomic<bool> overlapped{false};
  std::atomic<bool> realtime{false};
  std::function<void()> during;  // runs inside each call, when set

  static void readProc(const MIDIPacketList* list, void* refCon, void*) {
    auto* self = static_cast<Reception*>(refCon);
    if (self->inside.fetch_add(1) != 0) self->overlapped = true;
    const int policy = sched_getscheduler(0);
    if (policy == SCHED_FIFO || policy == SCHED_RR) self->realtime = true;
    {
      std::lock_guard lock(self->mutex);
      MIDIPacketIterator packets(list);
      MIDIPacketView packet;
      const auto now = std::chrono::steady_clock::now().time_since_epoch();
      while (packets.next(packet)) {
        self->bytes.insert(self->bytes.end(), packet.data, packet.data + packet.length);
        self->stamps.push_back(packet.timeStamp);
        self->calledAt.push_back(static_cast<MIDITimeStamp>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(now).count()));
      }
    }
    std::this_thread::yield();
    self->inside.fetch_sub(1);
    if (self->during) self->during();
  }
  Bytes received() {
    std::lock_guard lock(mutex);
    return bytes;
  }
};

struct Notifications {
  std::atomic<int> setupChanged{0};
  std::atomic<bool> onCallerThread{false};
  std::thread::id caller = std::this_thread::get_id();
  static void notifyProc(const MIDINotification* message, void* refCon) {
    auto* self = static_cast<Notifications*>(refCon);
    if (message->messageID != kMIDIMsgSetupChanged) return;
    if (std::this_thread::get_id() == self->caller) self->onCallerThread = true;
    self->setupChanged++;
  }
};

// Control changes whose two data bytes count up: any loss, repeat or
// reordering shows in the bytes received.
Bytes countingMessages(int first, int count) {
  Bytes bytes;
  for (int i = first; i < first + count; ++i) {
    bytes.push_back(0xB0);
    bytes.push_back(static_cast<Byte>((i >> 7) & 0x7F));
    bytes.push_back(static_cast<Byte>(i & 0x7F));
  }
  return bytes;
}

class MIDIServicesConformance : public testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    backend_ = makeConformanceBackend(GetParam());
    const std::string why = backend_->unavailableReason();
    if (!why.empty()) GTEST_SKIP() << why;
    services_ = backend_->open();
    ASSERT_TRUE(services_) << GetParam() << " services did not open";
  }
  void TearDown() override {
    if (services_) {
      for (MIDIClientRef client : clients_) services_->MIDIClientDispose(client);
    }
    services_.reset();
    backend_.reset();
  }

  MIDIServices& services() { return *services_; }
  MIDIClientRef makeClient(Notifications* notifications = nullptr) {
    MIDIClientRef client = 0;
    EXPECT_EQ(services().MIDIClientCreate("conformance",
                                          notifications ? Notifications::notifyProc : nullptr,
                                          notifications, &client),
              noErr);
    clients_.push_back(client);
    return client;
  }
  MIDIEndpointRef makeDestination(MIDIClientRef client, Reception& reception) {
    MIDIEndpointRef destination = 0;
    EXPECT_EQ(services().MIDIDestinationCreate(client, "Conformance In", Reception::readProc,
                                               &reception, &destination),
              noErr);
    return destination;
  }
  MIDIPortRef makeOutputPort(MIDIClientRef client) {
    MIDIPortRef port = 0;
    EXPECT_EQ(services().MIDIOutputPortCreate(client, "out", &port), noErr);
    return port;
  }
  void forget(MIDIClientRef client) { std::erase(clients_, client); }

  std::unique_ptr<ConformanceBackend> backend_;
  std::shared_ptr<MIDIServices> services_;
  std::vector<MIDIClientRef> clients_;
  // Callback targets outlive the clients.
  std::list<Reception> receptions_;
};

TEST_P(MIDIServicesConformance, EveryMisuseGetsItsOneStatusAndLeavesTheOutValueAlone) {
  MIDIServices& s = services();
  const MIDIClientRef client = makeClient();
  Reception& reception = receptions_.emplace_back();
  MIDIPortRef in = 0;
  ASSERT_EQ(s.MIDIInputPortCreate(client, "in", Reception::readProc, &reception, &in), noErr);
  const MIDIPortRef out = makeOutputPort(client);
  const MIDIEndpointRef ownDestination = makeDestination(client, reception);
  MIDIEndpointRef ownSource = 0;
  ASSERT_EQ(s.MIDISourceCreate(client, "Conformance Out", &ownSource), noErr);
  const MIDIEndpointRef foreignSource = backend_->foreignSource(s);
  ASSERT_NE(foreignSource, 0u);
  const auto note = listOf({0x90, 0x3C, 0x64});
  const MIDIPacketList* list = note.list();

  constexpr MIDIObjectRef kUntouched = 0x5EED;
  MIDIObjectRef ref = kUntouched;
  std::optional<std::string> text = "untouched";
  int32_t number = 0x5EED;
  struct Misuse {
    const char* what;
    std::function<OSStatus()> call;
    OSStatus status;
  };
  const std::vector<Misuse> misuses{
      {"a client made without an out-pointer",
       [&] { return s.MIDIClientCreate("x", nullptr, nullptr, nullptr); }, kMIDINotPermitted},
      {"an unknown client disposed of", [&] { return s.MIDIClientDispose(kBogus); },
       kMIDIInvalidClient},
      {"an input port of an unknown client",
       [&] { return s.MIDIInputPortCreate(kBogus, "x", Reception::readProc, nullptr, &ref); },
       kMIDIInvalidClient},
      {"an input port without an out-pointer",
       [&] { return s.MIDIInputPortCreate(client, "x", Reception::readProc, nullptr, nullptr); },
       kMIDINotPermitted},
      {"an output port of an unknown client",
       [&] { return s.MIDIOutputPortCreate(kBogus, "x", &ref); }, kMIDIInvalidClient},
      {"an output port without an out-pointer",
       [&] { return s.MIDIOutputPortCreate(client, "x", nullptr); }, kMIDINotPermitted},
      {"connecting an unknown port",
       [&] { return s.MIDIPortConnectSource(kBogus, ownSource, nullptr); }, kMIDIInvalidPort},
      {"connecting an output port",
       [&] { return s.MIDIPortConnectSource(out, ownSource, nullptr); }, kMIDIInvalidPort},
      {"connecting an unknown endpoint",
       [&] { return s.MIDIPortConnectSource(in, kBogus, nullptr); }, kMIDIUnknownEndpoint},
      {"connecting a destination",
       [&] { return s.MIDIPortConnectSource(in, ownDestination, nullptr); },
       kMIDIWrongEndpointType},
      {"disconnecting an unknown port",
       [&] { return s.MIDIPortDisconnectSource(kBogus, ownSource); }, kMIDIInvalidPort},
      {"disconnecting an output port", [&] { return s.MIDIPortDisconnectSource(out, ownSource); },
       kMIDIInvalidPort},
      {"disconnecting a source never connected",
       [&] { return s.MIDIPortDisconnectSource(in, ownSource); }, kMIDINoConnection},
      {"a destination of an unknown client",
       [&] { return s.MIDIDestinationCreate(kBogus, "x", Reception::readProc, nullptr, &ref); },
       kMIDIInvalidClient},
      {"a destination without an out-pointer",
       [&] { return s.MIDIDestinationCreate(client, "x", Reception::readProc, nullptr, nullptr); },
       kMIDINotPermitted},
      {"a source of an unknown client", [&] { return s.MIDISourceCreate(kBogus, "x", &ref); },
       kMIDIInvalidClient},
      {"a source without an out-pointer", [&] { return s.MIDISourceCreate(client, "x", nullptr); },
       kMIDINotPermitted},
      {"the name of an unknown object",
       [&] { return s.MIDIObjectGetStringProperty(kBogus, kMIDIPropertyName, &text); },
       kMIDIObjectNotFound},
      {"an integer property as a string",
       [&] { return s.MIDIObjectGetStringProperty(ownSource, kMIDIPropertyUniqueID, &text); },
       kMIDIWrongPropertyType},
      {"an unknown string property",
       [&] { return s.MIDIObjectGetStringProperty(ownSource, "colour", &text); },
       kMIDIUnknownProperty},
      {"a string property without an out-pointer",
       [&] { return s.MIDIObjectGetStringProperty(ownSource, kMIDIPropertyName, nullptr); },
       kMIDINotPermitted},
      {"an integer property of an unknown object",
       [&] { return s.MIDIObjectGetIntegerProperty(kBogus, kMIDIPropertyUniqueID, &number); },
       kMIDIObjectNotFound},
      {"the name as an integer",
       [&] { return s.MIDIObjectGetIntegerProperty(ownSource, kMIDIPropertyName, &number); },
       kMIDIWrongPropertyType},
      {"an unknown integer property",
       [&] { return s.MIDIObjectGetIntegerProperty(ownSource, "colour", &number); },
       kMIDIUnknownProperty},
      {"an endpoint property of a port",
       [&] { return s.MIDIObjectGetIntegerProperty(out, kMIDIPropertyUniqueID, &number); },
       kMIDIUnknownProperty},
      {"an integer property without an out-pointer",
       [&] { return s.MIDIObjectGetIntegerProperty(ownSource, kMIDIPropertyUniqueID, nullptr); },
       kMIDINotPermitted},
      {"sending through an unknown port", [&] { return s.MIDISend(kBogus, ownDestination, list); },
       kMIDIInvalidPort},
      {"sending through an input port", [&] { return s.MIDISend(in, ownDestination, list); },
       kMIDIInvalidPort},
      {"sending to an unknown endpoint", [&] { return s.MIDISend(out, kBogus, list); },
       kMIDIUnknownEndpoint},
      {"sending to a source", [&] { return s.MIDISend(out, ownSource, list); },
       kMIDIWrongEndpointType},
      {"sending no list", [&] { return s.MIDISend(out, ownDestination, nullptr); },
       kMIDIMessageSendErr},
      {"publishing on an unknown endpoint", [&] { return s.MIDIReceived(kBogus, list); },
       kMIDIUnknownEndpoint},
      {"publishing on a destination", [&] { return s.MIDIReceived(ownDestination, list); },
       kMIDIWrongEndpointType},
      {"publishing on another's source", [&] { return s.MIDIReceived(foreignSource, list); },
       kMIDINotPermitted},
      {"publishing no list", [&] { return s.MIDIReceived(ownSource, nullptr); },
       kMIDIMessageSendErr},
  };
  for (const Misuse& misuse : misuses) {
    EXPECT_EQ(misuse.call(), misuse.status) << misuse.what;
  }
  EXPECT_EQ(ref, kUntouched);
  EXPECT_EQ(text, std::optional<std::string>("untouched"));
  EXPECT_EQ(number, 0x5EED);
  EXPECT_EQ(s.MIDIGetSource(s.MIDIGetNumberOfSources()), 0u);
  EXPECT_EQ(s.MIDIGetDestination(s.MIDIGetNumberOfDestinations()), 0u);

  // Objects of a disposed client are gone with it.
  ASSERT_EQ(s.MIDIClientDispose(client), noErr);
  forget(client);
  EXPECT_EQ(s.MIDIClientDispose(client), kMIDIInvalidClient);
  EXPECT_EQ(s.MIDISend(out, ownDestination, list), kMIDIInvalidPort);
  EXPECT_EQ(s.MIDIPortConnectSource(in, foreignSource, nullptr), kMIDIInvalidPort);
}

TEST_P(MIDIServicesConformance, ClientsPortsAndVirtualEndpointsAreNamedAndListed) {
  MIDIServices& s = services();
  const MIDIClientRef client = makeClient();
  const MIDIPortRef out = makeOutputPort(client);
  MIDIEndpointRef source = 0;
  ASSERT_EQ(s.MIDISourceCreate(client, "Conformance Out", &source), noErr);
  std::optional<std::string> name;
  ASSERT_EQ(s.MIDIObjectGetStringProperty(source, kMIDIPropertyName, &name), noErr);
  EXPECT_EQ(name, std::optional<std::string>("Conformance Out"));
  ASSERT_EQ(s.MIDIObjectGetStringProperty(client, kMIDIPropertyName, &name), noErr);
  EXPECT_EQ(name, std::optional<std::string>("conformance"));
  ASSERT_EQ(s.MIDIObjectGetStringProperty(out, kMIDIPropertyName, &name), noErr);
  EXPECT_EQ(name, std::optional<std::string>("out"));
  int32_t offline = -1;
  ASSERT_EQ(s.MIDIObjectGetIntegerProperty(source, kMIDIPropertyOffline, &offline), noErr);
  EXPECT_EQ(offline, 0);

  auto listed = [&] {
    for (ItemCount i = 0; i < s.MIDIGetNumberOfSources(); ++i) {
      if (s.MIDIGetSource(i) == source) return true;
    }
    return false;
  };
  EXPECT_TRUE(listed());
  ASSERT_EQ(s.MIDIClientDispose(client), noErr);
  forget(client);
  EXPECT_TRUE(eventually([&] { return !listed(); }));
}

TEST_P(MIDIServicesConformance, ADestinationThatWentAwayIsOfflineAndSendingToItSaysSo) {
  MIDIServices& s = services();
  const MIDIClientRef sender = makeClient();
  const MIDIPortRef out = makeOutputPort(sender);
  const MIDIClientRef receiver = makeClient();
  Reception& reception = receptions_.emplace_back();
  const MIDIEndpointRef destination = makeDestination(receiver, reception);
  const auto note = listOf({0x90, 0x3C, 0x64});
  ASSERT_EQ(s.MIDISend(out, destination, note.list()), noErr);
  ASSERT_TRUE(eventually([&] { return reception.received().size() == 3; }));

  ASSERT_EQ(s.MIDIClientDispose(receiver), noErr);
  forget(receiver);
  auto listed = [&] {
    for (ItemCount i = 0; i < s.MIDIGetNumberOfDestinations(); ++i) {
      if (s.MIDIGetDestination(i) == destination) return true;
    }
    return false;
  };
  auto offline = [&] {
    int32_t value = -1;
    return s.MIDIObjectGetIntegerProperty(destination, kMIDIPropertyOffline, &value) == noErr &&
           value == 1;
  };
  EXPECT_TRUE(eventually([&] { return !listed() && offline(); }));
  std::optional<std::string> name;
  EXPECT_EQ(s.MIDIObjectGetStringProperty(destination, kMIDIPropertyName, &name), noErr);
  EXPECT_EQ(name, std::optional<std::string>("Conformance In"));
  EXPECT_EQ(s.MIDISend(out, destination, note.list()), kMIDIUnknownEndpoint);
  EXPECT_TRUE(s.waitUntilDelivered(kDeliveryTimeout));
  EXPECT_EQ(reception.received().size(), 3u) << "nothing reaches a disposed client";
}

TEST_P(MIDIServicesConformance, ListsArriveInOrderOneCallAtATimeOffTheRealtimeThread) {
  MIDIServices& s = services();
  const MIDIClientRef client = makeClient();
  Reception& toDestination = receptions_.emplace_back();
  const MIDIEndpointRef destination = makeDestination(client, toDestination);
  const MIDIPortRef out = makeOutputPort(client);

  Reception& fromSource = receptions_.emplace_back();
  MIDIPortRef in = 0;
  ASSERT_EQ(s.MIDIInputPortCreate(client, "in", Reception::readProc, &fromSource, &in), noErr);
  MIDIEndpointRef source = 0;
  ASSERT_EQ(s.MIDISourceCreate(client, "Conformance Out", &source), noErr);
  ASSERT_EQ(s.MIDIPortConnectSource(in, source, nullptr), noErr);
  ASSERT_TRUE(s.waitUntilDelivered(kDeliveryTimeout));

  constexpr int kLists = 300;
  constexpr int kPerList = 4;
  const auto sentFrom = std::chrono::steady_clock::now().time_since_epoch();
  for (int i = 0; i < kLists; ++i) {
    const auto list = listOf(countingMessages(i * kPerList, kPerList));
    ASSERT_EQ(s.MIDISend(out, destination, list.list()), noErr);
    ASSERT_EQ(s.MIDIReceived(source, list.list()), noErr);
  }
  ASSERT_TRUE(s.waitUntilDelivered(kDeliveryTimeout));
  const Bytes expected = countingMessages(0, kLists * kPerList);
  for (Reception* reception : {&toDestination, &fromSource}) {
    EXPECT_TRUE(eventually([&] { return reception->received().size() >= expected.size(); }));
    EXPECT_EQ(reception->received(), expected);
    EXPECT_FALSE(reception->overlapped.load());
    EXPECT_FALSE(reception->realtime.load());
    if (!s.stampsArrivalTimes()) continue;
    // Arrival times: in order, and within a cycle or so of the sending and
    // of the callback (a JACK event's time is where its frame falls in the
    // cycle, which may end after the callback).
    std::lock_guard lock(reception->mutex);
    const auto earliest = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              sentFrom - std::chrono::milliseconds(50))
                              .count();
    for (size_t i = 0; i < reception->stamps.size(); ++i) {
      EXPECT_GE(reception->stamps[i], static_cast<MIDITimeStamp>(earliest));
      EXPECT_LE(reception->stamps[i], reception->calledAt[i] + 50'000'000);
      if (i > 0) {
        EXPECT_GE(reception->stamps[i], reception->stamps[i - 1]);
      }
    }
  }
}

TEST_P(MIDIServicesConformance, DisposalReturnsOnlyOnceTheClientsRunningCallbackIsOver) {
  MIDIServices& s = services();
  const MIDIClientRef client = makeClient();
  Reception& reception = receptions_.emplace_back();
  std::atomic<bool> entered{false}, release{false}, left{false};
  reception.during = [&] {
    entered = true;
    while (!release) std::this_thread::sleep_for(1ms);
    left = true;
  };
  const MIDIEndpointRef destination = makeDestination(client, reception);
  const MIDIPortRef out = makeOutputPort(client);
  const auto note = listOf({0x90, 0x3C, 0x64});
  ASSERT_EQ(s.MIDISend(out, destination, note.list()), noErr);
  ASSERT_TRUE(eventually([&] { return entered.load(); }));

  std::atomic<bool> returned{false};
  bool callbackOverAtReturn = false;
  std::thread disposer([&] {
    EXPECT_EQ(s.MIDIClientDispose(client), noErr);
    callbackOverAtReturn = left.load();
    returned = true;
  });
  forget(client);
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(returned.load());
  release = true;
  disposer.join();
  EXPECT_TRUE(callbackOverAtReturn);
}

TEST_P(MIDIServicesConformance, AClientDisposedOfFromInsideItsOwnCallbackDoesNotWaitForItself) {
  MIDIServices& s = services();
  const MIDIClientRef client = makeClient();
  forget(client);
  Reception& reception = receptions_.emplace_back();
  std::atomic<int> status{1};
  reception.during = [&] { status = s.MIDIClientDispose(client); };
  const MIDIEndpointRef destination = makeDestination(client, reception);
  const MIDIPortRef out = makeOutputPort(client);
  const auto note = listOf({0x90, 0x3C, 0x64});
  ASSERT_EQ(s.MIDISend(out, destination, note.list()), noErr);
  EXPECT_TRUE(eventually([&] { return status.load() != 1; }));
  EXPECT_EQ(status.load(), noErr);
}

TEST_P(MIDIServicesConformance, ACallbackThatThrowsEndsAtTheBackendAndDeliveryGoesOn) {
  MIDIServices& s = services();
  const MIDIClientRef client = makeClient();
  Reception& reception = receptions_.emplace_back();
  std::atomic<int> calls{0};
  reception.during = [&] {
    if (calls++ == 0) throw std::runtime_error("a client's bug");
  };
  const MIDIEndpointRef destination = makeDestination(client, reception);
  const MIDIPortRef out = makeOutputPort(client);
  const auto first = listOf({0x90, 0x3C, 0x64});
  ASSERT_EQ(s.MIDISend(out, destination, first.list()), noErr);
  ASSERT_TRUE(eventually([&] { return calls.load() >= 1; }));
  const auto second = listOf({0x80, 0x3C, 0x40});
  ASSERT_EQ(s.MIDISend(out, destination, second.list()), noErr);
  EXPECT_TRUE(eventually([&] { return reception.received().size() == 6; }));
  EXPECT_EQ(s.MIDIClientDispose(client), noErr);
  forget(client);
}

TEST_P(MIDIServicesConformance, SetupChangesAreNotifiedOnABackendThread) {
  MIDIServices& s = services();
  Notifications notifications;
  const MIDIClientRef watching = makeClient(&notifications);
  const MIDIClientRef other = makeClient();
  MIDIEndpointRef source = 0;
  ASSERT_EQ(s.MIDISourceCreate(other, "Conformance Out", &source), noErr);
  EXPECT_TRUE(eventually([&] { return notifications.setupChanged.load() > 0; }));
  EXPECT_FALSE(notifications.onCallerThread.load());
  ASSERT_EQ(s.MIDIClientDispose(watching), noErr);
  forget(watching);
}

INSTANTIATE_TEST_SUITE_P(Backends, MIDIServicesConformance,
                         testing::ValuesIn(conformanceBackendNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return info.param;
                         });

}  // namespace
}  // namespace wex::test
