#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>

#include "EmbeddedServicesFixture.h"
#include "midi/OrvMIDIManager.h"
#include "support/MainThread.h"

namespace wex {
namespace {

using Names = std::vector<std::string>;
using Bytes = std::vector<Byte>;

// Like the patches' managers: no virtual endpoints, loads both lists itself.
class ListingManager : public OrvMIDIManager {
 public:
  void createVirtualNodes() override {}
  void setupChanged() override {
    loadMIDIInputSources();
    loadMIDIOutputDestinations();
    if (auto* listener = delegate()) listener->setupChanged();
  }
  std::string receivingNodeName() const override { return "foo"; }
  std::string sendingNodeName() const override { return "poo"; }

  std::shared_ptr<OrvMIDINode> makeReceivingNode(MIDIEndpointRef source) override {
    madeOnMainThread = madeOnMainThread && isMainThread();
    return OrvMIDIManager::makeReceivingNode(source);
  }

  std::atomic<bool> madeOnMainThread{true};
};

Names namesOf(MutLockArray<OrvMIDINode>& list) {
  Names names;
  for (size_t i = 0; i < list.count(); ++i) {
    names.push_back(list.lockObjectAtIndex(i)->name().value_or("<unnamed>"));
  }
  return names;
}

class OrvMIDIManagerTest : public EmbeddedServicesFixture {
 protected:
  OrvMIDIManagerTest() : EmbeddedServicesFixture(false) {}
};

TEST_F(OrvMIDIManagerTest, MachineWithoutEndpointsGivesEmptyListsAndAnEmptySnapshot) {
  const auto manager = OrvMIDIManager::create<ListingManager>();
  EXPECT_EQ(manager->sourceArray().count(), 0u);
  EXPECT_EQ(manager->destArray().count(), 0u);
  EXPECT_EQ(manager->createSnapshot(),
            (OrvMIDISnapshot{{"src", OrvMIDISnapshotFlags{}}, {"dst", OrvMIDISnapshotFlags{}}}));
}

TEST_F(OrvMIDIManagerTest, ListsFollowEnumerationOrderAndLeaveOutEndpointsNamedLikeTheHooks) {
  services->createDeviceSource("Keys");
  services->createDeviceSource("poo");
  services->createDeviceSource("foo");
  services->createDeviceDestination("Synth");
  services->createDeviceDestination("foo");
  services->createDeviceDestination("poo");
  services->createDeviceDestination("Drums");
  const auto manager = OrvMIDIManager::create<ListingManager>();
  EXPECT_EQ(namesOf(manager->sourceArray()), (Names{"Keys", "foo"}));
  EXPECT_EQ(namesOf(manager->destArray()), (Names{"Synth", "poo", "Drums"}));
  EXPECT_EQ(manager->destNodeNameArray(), (Names{"Synth", "poo", "Drums"}));
  EXPECT_EQ(manager->virtualSource(), nullptr);
  EXPECT_EQ(manager->virtualDest(), nullptr);
}

TEST_F(OrvMIDIManagerTest, EveryListedNodeHasTheManagerAsDelegate) {
  services->createDeviceSource("Keys");
  services->createDeviceDestination("Synth");
  const auto manager = OrvMIDIManager::create<ListingManager>();
  EXPECT_EQ(manager->sourceArray().lockObjectAtIndex(0)->delegate(), manager.get());
  EXPECT_EQ(manager->destArray().lockObjectAtIndex(0)->delegate(), manager.get());
}

TEST_F(OrvMIDIManagerTest, AnEndpointWhoseNodeCannotBeMadeIsLeftOut) {
  services->createDeviceDestination("Synth");
  services->createDeviceDestination("Drums");
  services->faults().failNext("MIDIOutputPortCreate", -1);
  const auto manager = OrvMIDIManager::create<ListingManager>();
  EXPECT_EQ(namesOf(manager->destArray()), Names{"Drums"});
  EXPECT_EQ(log.lines(), Names{"\t\terr -1 at MIDIOutputPortCreate A"});
}

TEST_F(OrvMIDIManagerTest, FindByNameTakesTheFirstMatchAndNothingForAnEmptyName) {
  services->createDeviceSource("");
  const MIDIEndpointRef first = services->createDeviceSource("Twin");
  services->createDeviceSource("Twin");
  const auto manager = OrvMIDIManager::create<ListingManager>();
  ASSERT_EQ(manager->sourceArray().count(), 3u);
  EXPECT_EQ(manager->findSourceNodeNamed(""), nullptr);
  EXPECT_EQ(manager->findSourceNodeNamed("Twin"), manager->sourceArray().lockObjectAtIndex(1));
  EXPECT_EQ(manager->findDestNodeNamed("Twin"), nullptr);
  EXPECT_EQ(std::get<int32_t>(manager->findSourceNodeNamed("Twin")->properties().at("uniqueID")),
            [&] {
              int32_t id = 0;
              services->MIDIObjectGetIntegerProperty(first, kMIDIPropertyUniqueID, &id);
              return id;
            }());
}

TEST_F(OrvMIDIManagerTest, SnapshotsCarryFlagsByNameAndLeaveOutUnnamedNodes) {
  services->createDeviceSource("Keys");
  services->createDeviceSource(std::nullopt);
  services->createDeviceDestination("Synth");
  services->createDeviceDestination("Drums");
  services->createDeviceDestination(std::nullopt);
  const auto manager = OrvMIDIManager::create<ListingManager>();
  manager->findDestNodeNamed("Drums")->setEnabled(false);
  const OrvMIDISnapshot snapshot = manager->createSnapshot();
  EXPECT_EQ(snapshot, (OrvMIDISnapshot{{"src", {{"Keys", true}}},
                                       {"dst", {{"Synth", true}, {"Drums", false}}}}));

  manager->setupChanged();  // every node starts enabled again
  EXPECT_TRUE(manager->findDestNodeNamed("Drums")->enabled());
  manager->loadSnapshot(&snapshot);
  EXPECT_FALSE(manager->findDestNodeNamed("Drums")->enabled());
  EXPECT_TRUE(manager->findDestNodeNamed("Synth")->enabled());
}

TEST_F(OrvMIDIManagerTest, LoadingASnapshotWithOnlyDestinationsLeavesSourcesAlone) {
  services->createDeviceSource("Both");
  services->createDeviceDestination("Both");
  const auto manager = OrvMIDIManager::create<ListingManager>();
  manager->findSourceNodeNamed("Both")->setEnabled(false);
  const OrvMIDISnapshot onlyDestinations{{"dst", {{"Both", false}, {"Unknown", true}}}};
  manager->loadSnapshot(&onlyDestinations);
  manager->loadSnapshot(nullptr);
  EXPECT_FALSE(manager->findDestNodeNamed("Both")->enabled());
  EXPECT_FALSE(manager->findSourceNodeNamed("Both")->enabled());
  const OrvMIDISnapshot onlySources{{"src", {{"Both", true}}}};
  manager->loadSnapshot(&onlySources);
  EXPECT_TRUE(manager->findSourceNodeNamed("Both")->enabled());
  EXPECT_FALSE(manager->findDestNodeNamed("Both")->enabled());
}

TEST_F(OrvMIDIManagerTest, LoadingFromAnotherThreadReturnsOnlyAfterTheMainThreadRebuilt) {
  const auto manager = OrvMIDIManager::create<ListingManager>();
  services->createDeviceSource("Late");
  std::thread other([&] {
    ASSERT_FALSE(isMainThread());
    manager->loadMIDIInputSources();
    EXPECT_EQ(namesOf(manager->sourceArray()), Names{"Late"});
  });
  other.join();
  EXPECT_TRUE(manager->madeOnMainThread);
}

class SendingManagerTest : public OrvMIDIManagerTest {
 protected:
  void SetUp() override {
    synth = services->createDeviceDestination("Synth");
    drums = services->createDeviceDestination("Drums");
    manager = OrvMIDIManager::create<ListingManager>();
  }
  Bytes received(MIDIEndpointRef device) {
    waitForDelivery();
    return services->recording(device)->bytes();
  }

  MIDIEndpointRef synth = 0, drums = 0;
  std::shared_ptr<ListingManager> manager;
  // note on channel 1 C4 velocity 100
  OrvMIDIMessagePtr a = OrvMIDIMessage::createFromVals(0x90, 0, 60, 100);
  // note off channel 1 C4 velocity 0
  OrvMIDIMessagePtr b = OrvMIDIMessage::createFromVals(0x80, 0, 60, 0);
  // control change channel 1 controller 7 value 1
  OrvMIDIMessagePtr c = OrvMIDIMessage::createFromVals(0xB0, 0, 7, 1);
};

TEST_F(SendingManagerTest, MessageReachesExactlyTheEnabledDestinations) {
  manager->findDestNodeNamed("Drums")->setEnabled(false);
  manager->sendMsg(a);
  manager->sendMsg(nullptr);
  EXPECT_EQ(received(synth), (Bytes{0x90, 60, 100}));  // a
  EXPECT_TRUE(received(drums).empty());
}

TEST_F(SendingManagerTest, ListOfThreeReachesEachDestinationOnceInOnePacketList) {
  manager->sendMsgs({a, b, c});
  manager->sendMsgs({});
  const Bytes all{0x90, 60, 100, 0x80, 60, 0, 0xB0, 7, 1};  // a, b, c
  EXPECT_EQ(received(synth), all);
  EXPECT_EQ(received(drums), all);
  EXPECT_EQ(services->recording(synth)->listCount(), 1u);
}

TEST_F(SendingManagerTest, ReceivedMessagesGoToTheDelegateUnchanged) {
  manager->setDelegate(&delegate);
  const OrvMIDIMessageList messages{a, b};
  manager->receivedMIDI(messages);
  ASSERT_EQ(delegate.lists().size(), 1u);
  EXPECT_EQ(delegate.lists()[0], messages);
  manager->setDelegate(nullptr);
  manager->receivedMIDI(messages);
  EXPECT_EQ(delegate.lists().size(), 1u);
}

TEST_F(SendingManagerTest, SendsRacingRebuildsOnlyEverSeeWholeLists) {
  std::atomic<bool> done{false};
  std::thread rebuilder([&] {
    for (int i = 0; i < 30; ++i) manager->loadMIDIOutputDestinations();
    done = true;
  });
  int sends = 0;
  while (!done || sends < 50) {
    manager->sendMsg(a);
    ++sends;
  }
  rebuilder.join();
  manager->sendMsg(c);
  for (MIDIEndpointRef device : {synth, drums}) {
    const Bytes bytes = received(device);
    ASSERT_GE(bytes.size(), 3u);
    ASSERT_EQ(bytes.size() % 3, 0u);
    // a every time, then c
    for (size_t i = 0; i + 3 < bytes.size(); i += 3) {
      EXPECT_EQ(Bytes(bytes.begin() + i, bytes.begin() + i + 3), (Bytes{0x90, 60, 100}));
    }
    EXPECT_EQ(Bytes(bytes.end() - 3, bytes.end()), (Bytes{0xB0, 7, 1}));
  }
  EXPECT_EQ(manager->destArray().count(), 2u);
}

// ---- the base class, with its virtual endpoints ------------------------------

class BaseManagerTest : public EmbeddedServicesFixture {};

TEST_F(BaseManagerTest, PublishesItsVirtualPairAndDoesNotListItsOwnEndpoints) {
  services->createDeviceSource("Keys");
  const auto manager = OrvMIDIManager::create();
  // Publishing the virtual pair announces a setup change, whose reload may
  // still be under way: let it finish before the lists are read.
  ASSERT_TRUE(services->waitUntilNotified(10));
  ASSERT_TRUE(manager->virtualSource() && manager->virtualDest());
  EXPECT_EQ(manager->virtualSource()->name(), "To OrvMIDI");
  EXPECT_EQ(manager->virtualDest()->name(), "From OrvMIDI");
  EXPECT_EQ(namesOf(manager->sourceArray()), (Names{"wexmidi Loopback", "Keys"}));
  EXPECT_EQ(namesOf(manager->destArray()), (Names{"wexmidi Loopback"}));
  EXPECT_EQ(manager->virtualSource()->delegate(), manager.get());
}

TEST_F(BaseManagerTest, SetupChangeNoticedByItsVirtualNodeReloadsAndTellsTheDelegate) {
  const auto manager = OrvMIDIManager::create();
  manager->setDelegate(&delegate);
  ASSERT_TRUE(services->waitUntilNotified(10));
  const int before = delegate.setupChanges;
  services->createDeviceDestination("Synth");
  ASSERT_TRUE(services->waitUntilNotified(10));
  EXPECT_GT(delegate.setupChanges, before);
  EXPECT_EQ(namesOf(manager->destArray()), (Names{"wexmidi Loopback", "Synth"}));
}

TEST_F(BaseManagerTest, MissingVirtualNodeMeansSetupChangesNeitherReloadNorReachTheDelegate) {
  services->faults().failNext("MIDISourceCreate", -2);
  const auto manager = OrvMIDIManager::create();
  EXPECT_EQ(manager->virtualDest(), nullptr);
  manager->setDelegate(&delegate);
  manager->setupChanged();
  EXPECT_EQ(manager->sourceArray().count(), 0u);
  EXPECT_EQ(delegate.setupChanges, 0);
}

TEST_F(BaseManagerTest, SendingAnEmptyListReachesNotEvenTheVirtualSource) {
  const auto manager = OrvMIDIManager::create();
  const auto listener = OrvMIDINode::initReceiverWithEndpoint(services->MIDIGetSource(1));
  ASSERT_TRUE(listener);
  ASSERT_EQ(listener->name(), "From OrvMIDI");
  listener->setDelegate(&delegate);
  manager->sendMsgs({});
  manager->sendMsg(OrvMIDIMessage::createFromVals(0xFA, 0, 0, 0));  // start
  waitForDelivery();
  EXPECT_EQ(delegate.wireMessages(), (std::vector<Bytes>{{0xFA}}));
}

TEST_F(BaseManagerTest, ReleasingTheManagerDisposesOfEveryClient) {
  auto manager = OrvMIDIManager::create();
  EXPECT_GT(services->clientCount(), 0u);
  manager.reset();
  EXPECT_EQ(services->clientCount(), 0u);
  EXPECT_EQ(services->MIDIGetNumberOfSources(), 1u);
}

// Says when a setup change reaches it from the MIDI services' thread.
class AnnouncingManager : public OrvMIDIManager {
 public:
  void setupChanged() override {
    if (std::promise<void>* arrived = arrived_.exchange(nullptr)) arrived->set_value();
    OrvMIDIManager::setupChanged();
  }
  std::atomic<std::promise<void>*> arrived_{nullptr};
};

// The setup change waits for the main thread to rebuild the lists, while the
// main thread releases the manager, which waits for that notification to end.
TEST_F(BaseManagerTest, ReleasedOnTheMainThreadDuringASetupChangeItReturns) {
  auto manager = OrvMIDIManager::create<AnnouncingManager>();
  ASSERT_TRUE(services->waitUntilNotified(10));
  std::promise<void> arrived;
  manager->arrived_ = &arrived;
  auto released = std::make_shared<std::promise<void>>();
  std::future<void> done = released->get_future();
  std::thread([&manager, &arrived, released] {
    performOnMainThreadAndWait([&] {
      arrived.get_future().wait();
      manager.reset();
    });
    released->set_value();
  }).detach();
  services->createDeviceDestination("Synth");
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    // The threads are stuck for good: end here rather than hang.
    std::fprintf(stderr, "deadlock: releasing the manager did not return within 20 seconds\n");
    std::_Exit(1);
  }
  EXPECT_EQ(services->clientCount(), 0u);
}

}  // namespace
}  // namespace wex
