#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "midi/EmbeddedServicesFixture.h"
#include "patches/WexPatches.h"
#include "server/CompositionServer.h"
#include "server/PageMonitor.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex {
namespace {

using ::testing::HasSubstr;

class PageMonitorTest : public EmbeddedServicesFixture {
 protected:
  PageMonitorTest()
      : composition(registry), commands(composition, {}), server(composition, commands, {}) {
    registerWexPatches(registry);
    queue = server.events().subscribe(1);
  }

  // Follows the setup and reads the stream until `part` shows, for a few seconds.
  bool waitFor(PageMonitor& monitor, const std::string& part) {
    for (int i = 0; i < 300 && events.find(part) == std::string::npos; ++i) {
      monitor.update();
      events += queue->take(std::chrono::milliseconds(10));
    }
    return events.find(part) != std::string::npos;
  }

  PlugInRegistry registry;
  Composition composition;
  CompositionCommands commands;
  CompositionServer server;
  std::shared_ptr<EventQueue> queue;
  std::string events;
};

TEST_F(PageMonitorTest, FollowsSourcesThatComeAndGoAndNamesTheSourceOfEachMessage) {
  PageMonitor monitor(*services, server);
  std::string reason;
  ASSERT_TRUE(monitor.start(&reason)) << reason;

  MIDIClientRef peer = 0;
  MIDIEndpointRef keys = 0;
  ASSERT_EQ(services->MIDIClientCreate("peer", nullptr, nullptr, &peer), noErr);
  ASSERT_EQ(services->MIDISourceCreate(peer, "Keys", &keys), noErr);
  ASSERT_TRUE(waitFor(monitor, "source appeared: Keys")) << events;
  EXPECT_THAT(events, HasSubstr("event: log\n"));

  MIDIPacketListBuffer list;
  list.addPacket({0x90, 0x3C, 0x64});  // note on, note 60, velocity 100
  ASSERT_EQ(services->MIDIReceived(keys, list.list()), noErr);
  waitForDelivery();
  ASSERT_TRUE(waitFor(monitor, "\"source\":\"Keys\"")) << events;
  EXPECT_THAT(events, HasSubstr("event: midi\n"));
  EXPECT_THAT(events, HasSubstr("\"text\":\"NoteOn, ch.0, note.60, val.100\""));

  ASSERT_EQ(services->MIDIClientDispose(peer), noErr);
  EXPECT_TRUE(waitFor(monitor, "source went away: Keys")) << events;
}

}  // namespace
}  // namespace wex
