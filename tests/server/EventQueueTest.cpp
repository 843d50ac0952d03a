#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "server/EventHub.h"

namespace wex {
namespace {

using Json = ValueJSON::Json;
using ::testing::HasSubstr;
using ::testing::Not;

TEST(EventQueueTest, APortSendsOnlyItsLatestValue) {
  EventQueue queue(4);
  for (int i = 0; i < 100; ++i) queue.putValue("cc.outputControllerValue7", i);
  queue.putValue("notes.outputNote60", true);
  EXPECT_EQ(queue.take(std::chrono::milliseconds(0)),
            "event: values\ndata: {\"cc.outputControllerValue7\":99,\"notes.outputNote60\":true}"
            "\n\n");
  EXPECT_EQ(queue.take(std::chrono::milliseconds(0)), "");
}

TEST(EventQueueTest, AFullQueueDropsItsOldestEventsAndCountsThem) {
  EventQueue queue(3);
  for (int i = 0; i < 10; ++i) queue.putEvent("midi", Json{{"n", i}});
  const std::string text = queue.take(std::chrono::milliseconds(0));
  EXPECT_THAT(text, Not(HasSubstr("{\"n\":6}")));
  EXPECT_THAT(text, HasSubstr("event: midi\ndata: {\"n\":7}\n\nevent: midi\ndata: {\"n\":8}"));
  EXPECT_THAT(text, HasSubstr("event: dropped\ndata: {\"count\":7}"));
  EXPECT_EQ(queue.droppedCount(), 7u);
}

TEST(EventQueueTest, ClosingWakesAWaitingReaderWithNothing) {
  EventQueue queue(4);
  std::thread closer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    queue.close();
  });
  EXPECT_EQ(queue.take(std::chrono::seconds(30)), "");
  closer.join();
  queue.putValue("a.b", 1);
  EXPECT_TRUE(queue.closed());
}

TEST(EventHubTest, AStuckClientNeitherBlocksPublishingNorGrowsWithoutBound) {
  EventHub hub;
  auto stuck = hub.subscribe(2);
  auto reader = hub.subscribe(2);
  EXPECT_EQ(hub.subscribe(2), nullptr);
  for (int i = 0; i < 100000; ++i) {
    hub.publishValue("p.v", i);
    hub.publishEvent("midi", i);
  }
  EXPECT_EQ(stuck->droppedCount(), 100000u - EventHub::kQueueCapacity);
  EXPECT_THAT(reader->take(std::chrono::milliseconds(0)), HasSubstr("{\"p.v\":99999}"));
  hub.unsubscribe(stuck);
  EXPECT_EQ(hub.clientCount(), 1u);
}

}  // namespace
}  // namespace wex
