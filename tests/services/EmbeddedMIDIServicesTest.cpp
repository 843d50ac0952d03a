#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "services/MIDIPacketListBuffer.h"
#include "services/embedded/EmbeddedMIDIServices.h"

namespace wex {
namespace {

// A read callback target that keeps what it was given.
struct Inbox {
  std::mutex mutex;
  std::vector<std::vector<Byte>> lists;  // all bytes of each list, packets joined
  std::vector<void*> connRefCons;
  std::vector<std::thread::id> threads;

  static void readProc(const MIDIPacketList* pktlist, void* refCon, void* connRefCon) {
    auto* inbox = static_cast<Inbox*>(refCon);
    std::vector<Byte> bytes;
    MIDIPacketIterator packets(pktlist);
    MIDIPacketView packet;
    while (packets.next(packet))
      bytes.insert(bytes.end(), packet.data, packet.data + packet.length);
    std::lock_guard lock(inbox->mutex);
    inbox->lists.push_back(bytes);
    inbox->connRefCons.push_back(connRefCon);
    inbox->threads.push_back(std::this_thread::get_id());
  }

  std::vector<std::vector<Byte>> received() {
    std::lock_guard lock(mutex);
    return lists;
  }
};

struct NotificationCounter {
  std::atomic<int> setupChanged{0};
  std::atomic<bool> calledOnCallerThread{false};
  std::thread::id caller = std::this_thread::get_id();

  static void notifyProc(const MIDINotification* message, void* refCon) {
    auto* counter = static_cast<NotificationCounter*>(refCon);
    if (std::this_thread::get_id() == counter->caller) counter->calledOnCallerThread = true;
    if (message->messageID == kMIDIMsgSetupChanged) ++counter->setupChanged;
  }
};

MIDIPacketListBuffer listOf(std::initializer_list<Byte> bytes) {
  MIDIPacketListBuffer list;
  list.add(std::vector<Byte>(bytes).data(), bytes.size());
  return list;
}

class EmbeddedMIDIServicesTest : public ::testing::Test {
 protected:
  MIDIClientRef makeClient(NotificationCounter* counter = nullptr) {
    MIDIClientRef client = 0;
    EXPECT_EQ(
        services.MIDIClientCreate(
            "test client", counter ? &NotificationCounter::notifyProc : nullptr, counter, &client),
        noErr);
    return client;
  }

  MIDIPortRef makeInputPort(MIDIClientRef client, Inbox& inbox) {
    MIDIPortRef port = 0;
    EXPECT_EQ(services.MIDIInputPortCreate(client, "in", &Inbox::readProc, &inbox, &port), noErr);
    return port;
  }

  MIDIPortRef makeOutputPort(MIDIClientRef client) {
    MIDIPortRef port = 0;
    EXPECT_EQ(services.MIDIOutputPortCreate(client, "out", &port), noErr);
    return port;
  }

  std::optional<std::string> nameOf(MIDIObjectRef object) {
    std::optional<std::string> name;
    EXPECT_EQ(services.MIDIObjectGetStringProperty(object, kMIDIPropertyName, &name), noErr);
    return name;
  }

  EmbeddedMIDIServices services;
};

TEST_F(EmbeddedMIDIServicesTest, LoopbackBusIsOneSourceAndOneDestinationNamedWexmidiLoopback) {
  ASSERT_EQ(services.MIDIGetNumberOfSources(), 1u);
  ASSERT_EQ(services.MIDIGetNumberOfDestinations(), 1u);
  EXPECT_EQ(services.MIDIGetSource(0), services.loopbackSource());
  EXPECT_EQ(services.MIDIGetDestination(0), services.loopbackDestination());
  EXPECT_EQ(nameOf(services.loopbackSource()), "wexmidi Loopback");
  EXPECT_EQ(nameOf(services.loopbackDestination()), "wexmidi Loopback");
  EXPECT_EQ(services.MIDIGetSource(1), 0u);

  EmbeddedMIDIServices bare(false);
  EXPECT_EQ(bare.MIDIGetNumberOfSources(), 0u);
  EXPECT_EQ(bare.MIDIGetNumberOfDestinations(), 0u);
  EXPECT_EQ(bare.MIDIGetDestination(0), 0u);
}

TEST_F(EmbeddedMIDIServicesTest, EndpointsAreListedInCreationOrderAndLeaveWhenRemoved) {
  const MIDIClientRef client = makeClient();
  const MIDIEndpointRef deviceA = services.createDeviceSource("A");
  MIDIEndpointRef virtualB = 0;
  ASSERT_EQ(services.MIDISourceCreate(client, "B", &virtualB), noErr);
  const MIDIEndpointRef deviceC = services.createDeviceSource("C");
  ASSERT_EQ(services.MIDIGetNumberOfSources(), 4u);
  EXPECT_EQ(services.MIDIGetSource(1), deviceA);
  EXPECT_EQ(services.MIDIGetSource(2), virtualB);
  EXPECT_EQ(services.MIDIGetSource(3), deviceC);

  EXPECT_EQ(services.removeDevice(deviceA), noErr);
  ASSERT_EQ(services.MIDIGetNumberOfSources(), 3u);
  EXPECT_EQ(services.MIDIGetSource(1), virtualB);
  EXPECT_EQ(services.removeDevice(virtualB), kMIDINotPermitted);
  EXPECT_EQ(services.removeDevice(deviceA), kMIDIUnknownEndpoint);
}

TEST_F(EmbeddedMIDIServicesTest, EveryEndpointHasItsOwnUniqueIDAndAnUnnamedOneHasNoName) {
  const MIDIEndpointRef named = services.createDeviceDestination("Synth");
  const MIDIEndpointRef unnamed = services.createDeviceDestination(std::nullopt);
  std::set<int32_t> ids;
  for (MIDIEndpointRef endpoint :
       {named, unnamed, services.loopbackSource(), services.loopbackDestination()}) {
    int32_t id = 0;
    ASSERT_EQ(services.MIDIObjectGetIntegerProperty(endpoint, kMIDIPropertyUniqueID, &id), noErr);
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(nameOf(named), "Synth");
  EXPECT_EQ(nameOf(unnamed), std::nullopt);

  std::optional<std::string> name;
  int32_t value = 0;
  EXPECT_EQ(services.MIDIObjectGetStringProperty(0xFFFFFF, kMIDIPropertyName, &name),
            kMIDIObjectNotFound);
  EXPECT_EQ(services.MIDIObjectGetIntegerProperty(named, "colour", &value), kMIDIUnknownProperty);
  EXPECT_EQ(services.MIDIObjectGetIntegerProperty(named, kMIDIPropertyName, &value),
            kMIDIWrongPropertyType);
}

TEST_F(EmbeddedMIDIServicesTest, ConnectedPortsGetWhatADeviceSourceSendsInOrderOnADeliveryThread) {
  const MIDIEndpointRef device = services.createDeviceSource("Keys");
  Inbox connected, unconnected;
  const MIDIClientRef client = makeClient();
  int connection = 0;
  ASSERT_EQ(services.MIDIPortConnectSource(makeInputPort(client, connected), device, &connection),
            noErr);
  makeInputPort(client, unconnected);

  for (Byte note = 60; note < 70; ++note) {
    ASSERT_EQ(services.feedSourceBytes(device, {0x90, note, 100}), noErr);
  }
  ASSERT_TRUE(services.waitUntilDelivered(10));

  const auto lists = connected.received();
  ASSERT_EQ(lists.size(), 10u);
  for (Byte i = 0; i < 10; ++i) EXPECT_EQ(lists[i], (std::vector<Byte>{0x90, Byte(60 + i), 100}));
  EXPECT_EQ(connected.connRefCons.front(), &connection);
  EXPECT_NE(connected.threads.front(), std::this_thread::get_id());
  EXPECT_TRUE(unconnected.received().empty());
}

TEST_F(EmbeddedMIDIServicesTest, DisconnectedPortGetsNothingMore) {
  const MIDIEndpointRef device = services.createDeviceSource("Keys");
  Inbox inbox;
  const MIDIPortRef port = makeInputPort(makeClient(), inbox);
  ASSERT_EQ(services.MIDIPortConnectSource(port, device, nullptr), noErr);
  ASSERT_EQ(services.MIDIPortDisconnectSource(port, device), noErr);
  EXPECT_EQ(services.MIDIPortDisconnectSource(port, device), kMIDINoConnection);
  services.feedSourceBytes(device, {0xF8});  // clock
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_TRUE(inbox.received().empty());
}

TEST_F(EmbeddedMIDIServicesTest, WhatIsSentToTheLoopbackDestinationComesOutOfItsSource) {
  Inbox inbox;
  const MIDIClientRef client = makeClient();
  ASSERT_EQ(services.MIDIPortConnectSource(makeInputPort(client, inbox), services.loopbackSource(),
                                           nullptr),
            noErr);
  auto list = listOf({0xB0, 7, 99});  // control change channel 1 controller 7 value 99
  ASSERT_EQ(services.MIDISend(makeOutputPort(client), services.loopbackDestination(), list.list()),
            noErr);
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_EQ(inbox.received(), (std::vector<std::vector<Byte>>{{0xB0, 7, 99}}));
}

TEST_F(EmbeddedMIDIServicesTest, SentListIsCopiedSoLaterChangesOfTheCallersListDoNotArrive) {
  const MIDIEndpointRef device = services.createDeviceDestination("Synth");
  const MIDIPortRef out = makeOutputPort(makeClient());
  auto list = listOf({0x90, 60, 100});  // note on channel 1 C4 velocity 100
  ASSERT_EQ(services.MIDISend(out, device, list.list()), noErr);
  list.clear();
  const Byte other[] = {0x80, 1, 2};  // note off channel 1 C#-1 velocity 2
  list.add(other, 3);
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_EQ(services.recording(device)->bytes(), (std::vector<Byte>{0x90, 60, 100}));
}

TEST_F(EmbeddedMIDIServicesTest, VirtualEndpointsCarryTrafficBothWays) {
  const MIDIClientRef client = makeClient();
  Inbox atDestination, fromSource;
  MIDIEndpointRef destination = 0, source = 0;
  ASSERT_EQ(
      services.MIDIDestinationCreate(client, "To", &Inbox::readProc, &atDestination, &destination),
      noErr);
  ASSERT_EQ(services.MIDISourceCreate(client, "From", &source), noErr);
  ASSERT_EQ(
      services.MIDIPortConnectSource(makeInputPort(makeClient(), fromSource), source, nullptr),
      noErr);

  auto toList = listOf({0xC1, 5});  // program change channel 2 program 5
  ASSERT_EQ(services.MIDISend(makeOutputPort(makeClient()), destination, toList.list()), noErr);
  auto fromList = listOf({0xFA});  // start
  ASSERT_EQ(services.MIDIReceived(source, fromList.list()), noErr);
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_EQ(atDestination.received(), (std::vector<std::vector<Byte>>{{0xC1, 5}}));
  EXPECT_EQ(fromSource.received(), (std::vector<std::vector<Byte>>{{0xFA}}));  // start
}

TEST_F(EmbeddedMIDIServicesTest, WrongKindsOfObjectAreRefused) {
  const MIDIClientRef client = makeClient();
  Inbox inbox;
  const MIDIPortRef in = makeInputPort(client, inbox);
  const MIDIPortRef out = makeOutputPort(client);
  const MIDIEndpointRef deviceSource = services.createDeviceSource("S");
  const MIDIEndpointRef deviceDest = services.createDeviceDestination("D");
  auto list = listOf({0xF8});  // clock
  EXPECT_EQ(services.MIDISend(in, deviceDest, list.list()), kMIDIInvalidPort);
  EXPECT_EQ(services.MIDISend(out, deviceSource, list.list()), kMIDIWrongEndpointType);
  EXPECT_EQ(services.MIDIReceived(deviceSource, list.list()), kMIDINotPermitted);
  EXPECT_EQ(services.MIDIReceived(deviceDest, list.list()), kMIDIWrongEndpointType);
  EXPECT_EQ(services.MIDIPortConnectSource(out, deviceSource, nullptr), kMIDIInvalidPort);
  EXPECT_EQ(services.MIDIPortConnectSource(in, deviceDest, nullptr), kMIDIWrongEndpointType);
  MIDIPortRef port = 0;
  EXPECT_EQ(services.MIDIOutputPortCreate(0xFFFFFF, "x", &port), kMIDIInvalidClient);
  EXPECT_EQ(services.MIDIClientDispose(0xFFFFFF), kMIDIInvalidClient);
}

TEST_F(EmbeddedMIDIServicesTest, ClientDisposeEndsItsPortsConnectionsAndVirtualEndpoints) {
  const MIDIClientRef client = makeClient();
  Inbox inbox;
  ASSERT_EQ(services.MIDIPortConnectSource(makeInputPort(client, inbox), services.loopbackSource(),
                                           nullptr),
            noErr);
  makeOutputPort(client);
  MIDIEndpointRef source = 0, destination = 0;
  ASSERT_EQ(services.MIDISourceCreate(client, "From", &source), noErr);
  ASSERT_EQ(services.MIDIDestinationCreate(client, "To", &Inbox::readProc, &inbox, &destination),
            noErr);
  const MIDIEndpointRef device = services.createDeviceSource("Keys");
  ASSERT_EQ(services.MIDIPortConnectSource(makeInputPort(makeClient(), inbox), device, nullptr),
            noErr);
  ASSERT_EQ(services.clientCount(), 2u);
  ASSERT_EQ(services.MIDIGetNumberOfSources(), 3u);

  ASSERT_EQ(services.MIDIClientDispose(client), noErr);
  EXPECT_EQ(services.clientCount(), 1u);
  EXPECT_EQ(services.portCount(), 1u);
  EXPECT_EQ(services.connectionCount(), 1u);
  EXPECT_EQ(services.MIDIGetNumberOfSources(), 2u);
  EXPECT_EQ(services.MIDIGetNumberOfDestinations(), 1u);
  // Its virtual endpoints stay known, offline, as every endpoint that went away.
  int32_t offline = 0;
  EXPECT_EQ(services.MIDIObjectGetIntegerProperty(source, kMIDIPropertyOffline, &offline), noErr);
  EXPECT_EQ(offline, 1);
}

struct BlockingTarget {
  std::atomic<bool> entered{false};
  std::atomic<bool> release{false};
  std::atomic<bool> finished{false};

  static void readProc(const MIDIPacketList*, void* refCon, void*) {
    auto* target = static_cast<BlockingTarget*>(refCon);
    target->entered = true;
    while (!target->release) std::this_thread::yield();
    target->finished = true;
  }
};

TEST_F(EmbeddedMIDIServicesTest, ClientDisposeReturnsOnlyAfterItsRunningCallbackHasEnded) {
  const MIDIClientRef client = makeClient();
  BlockingTarget target;
  MIDIPortRef port = 0;
  ASSERT_EQ(services.MIDIInputPortCreate(client, "in", &BlockingTarget::readProc, &target, &port),
            noErr);
  const MIDIEndpointRef device = services.createDeviceSource("Keys");
  ASSERT_EQ(services.MIDIPortConnectSource(port, device, nullptr), noErr);
  services.feedSourceBytes(device, {0xF8});  // clock
  services.feedSourceBytes(device, {0xF8});  // queued behind the first, dropped by the dispose
  while (!target.entered) std::this_thread::yield();

  std::atomic<bool> finishedWhenDisposeReturned{false};
  std::thread disposer([&] {
    EXPECT_EQ(services.MIDIClientDispose(client), noErr);
    finishedWhenDisposeReturned = target.finished.load();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let the disposer start waiting
  target.release = true;
  disposer.join();
  EXPECT_TRUE(finishedWhenDisposeReturned);
}

struct SelfDisposer {
  EmbeddedMIDIServices* services = nullptr;
  MIDIClientRef client = 0;
  std::atomic<OSStatus> status{1};

  static void readProc(const MIDIPacketList*, void* refCon, void*) {
    auto* self = static_cast<SelfDisposer*>(refCon);
    self->status = self->services->MIDIClientDispose(self->client);
  }
};

TEST_F(EmbeddedMIDIServicesTest, ClientDisposeInsideItsOwnCallbackDoesNotWaitForItself) {
  SelfDisposer self{&services};
  self.client = makeClient();
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services.MIDIDestinationCreate(self.client, "To", &SelfDisposer::readProc, &self,
                                           &destination),
            noErr);
  auto list = listOf({0xF8});  // clock
  ASSERT_EQ(services.MIDISend(makeOutputPort(makeClient()), destination, list.list()), noErr);
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_EQ(self.status.load(), noErr);
  EXPECT_EQ(services.clientCount(), 1u);
}

TEST_F(EmbeddedMIDIServicesTest, ReadCallbacksOfOnePortNeverOverlapWhenSeveralThreadsSend) {
  struct OverlapCheck {
    std::atomic<int> inside{0};
    std::atomic<bool> overlapped{false};
    std::atomic<int> lists{0};
    static void readProc(const MIDIPacketList*, void* refCon, void*) {
      auto* check = static_cast<OverlapCheck*>(refCon);
      if (check->inside.fetch_add(1) != 0) check->overlapped = true;
      std::this_thread::yield();
      check->inside.fetch_sub(1);
      ++check->lists;
    }
  } check;
  const MIDIClientRef client = makeClient();
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(
      services.MIDIDestinationCreate(client, "To", &OverlapCheck::readProc, &check, &destination),
      noErr);
  std::vector<std::thread> senders;
  for (int i = 0; i < 3; ++i) {
    senders.emplace_back([&] {
      const MIDIPortRef out = makeOutputPort(makeClient());
      auto list = listOf({0xF8});  // clock
      for (int n = 0; n < 200; ++n) services.MIDISend(out, destination, list.list());
    });
  }
  for (auto& sender : senders) sender.join();
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_EQ(check.lists.load(), 600);
  EXPECT_FALSE(check.overlapped);
}

TEST_F(EmbeddedMIDIServicesTest, SetupChangesAreNotifiedOnAnotherThreadToClientsThatAskedOnly) {
  NotificationCounter listening, disposed;
  const MIDIClientRef listener = makeClient(&listening);
  const MIDIClientRef gone = makeClient(&disposed);
  makeClient();  // without a notification callback
  ASSERT_EQ(services.MIDIClientDispose(gone), noErr);

  const MIDIEndpointRef device = services.createDeviceDestination("Synth");
  ASSERT_TRUE(services.waitUntilNotified(10));
  const int afterAppearing = listening.setupChanged;
  EXPECT_GE(afterAppearing, 1);
  services.removeDevice(device);
  ASSERT_TRUE(services.waitUntilNotified(10));
  EXPECT_GT(listening.setupChanged, afterAppearing);
  EXPECT_FALSE(listening.calledOnCallerThread);
  EXPECT_EQ(disposed.setupChanged, 0);

  // A port or a connection is no endpoint: no notification.
  const int before = listening.setupChanged;
  makeOutputPort(listener);
  ASSERT_TRUE(services.waitUntilNotified(10));
  EXPECT_EQ(listening.setupChanged, before);
}

TEST_F(EmbeddedMIDIServicesTest, InjectedFaultsFailTheNextCallsOrEveryCallOfTheNamedOperation) {
  services.faults().failNext("MIDIClientCreate", -42);
  MIDIClientRef client = 0;
  EXPECT_EQ(services.MIDIClientCreate("c", nullptr, nullptr, &client), -42);
  EXPECT_EQ(client, 0u);
  EXPECT_EQ(services.MIDIClientCreate("c", nullptr, nullptr, &client), noErr);

  services.faults().failAlways("MIDIOutputPortCreate", kMIDIServerStartErr);
  MIDIPortRef port = 0;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(services.MIDIOutputPortCreate(client, "out", &port), kMIDIServerStartErr);
  }
  services.faults().clear("MIDIOutputPortCreate");
  EXPECT_EQ(services.MIDIOutputPortCreate(client, "out", &port), noErr);

  services.faults().failNext("MIDISend", -7, 2);
  auto list = listOf({0xF8});  // clock
  const MIDIEndpointRef device = services.createDeviceDestination("D");
  EXPECT_EQ(services.MIDISend(port, device, list.list()), -7);
  EXPECT_EQ(services.MIDISend(port, device, list.list()), -7);
  EXPECT_EQ(services.MIDISend(port, device, list.list()), noErr);
  ASSERT_TRUE(services.waitUntilDelivered(10));
  EXPECT_EQ(services.recording(device)->listCount(), 1u);
}

TEST_F(EmbeddedMIDIServicesTest, FedBytesLongerThanOnePacketArriveWhole) {
  const MIDIEndpointRef device = services.createDeviceSource("Big");
  Inbox inbox;
  ASSERT_EQ(services.MIDIPortConnectSource(makeInputPort(makeClient(), inbox), device, nullptr),
            noErr);
  std::vector<Byte> bytes(70000, 0x11);
  bytes.front() = 0xF0;
  bytes.back() = 0xF7;
  ASSERT_EQ(services.feedSourceBytes(device, bytes), noErr);
  ASSERT_TRUE(services.waitUntilDelivered(10));
  ASSERT_EQ(inbox.received().size(), 1u);
  EXPECT_EQ(inbox.received()[0], bytes);
}

TEST(EmbeddedMIDIServicesLifetime, ServicesDestroyedWithTrafficAndClientsLeftStopCleanly) {
  Inbox inbox;
  NotificationCounter counter;
  {
    EmbeddedMIDIServices services;
    MIDIClientRef client = 0;
    ASSERT_EQ(services.MIDIClientCreate("c", &NotificationCounter::notifyProc, &counter, &client),
              noErr);
    MIDIEndpointRef destination = 0;
    ASSERT_EQ(services.MIDIDestinationCreate(client, "To", &Inbox::readProc, &inbox, &destination),
              noErr);
    MIDIPortRef out = 0;
    ASSERT_EQ(services.MIDIOutputPortCreate(client, "out", &out), noErr);
    auto list = listOf({0xF8});  // clock
    for (int i = 0; i < 500; ++i) services.MIDISend(out, destination, list.list());
    services.createDeviceSource("Keys");
  }
  EXPECT_LE(inbox.received().size(), 500u);
}

}  // namespace
}  // namespace wex
