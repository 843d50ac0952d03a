#include <jack/midiport.h>

#include <array>
#include <limits>

#include "jack/JackServicesFixture.h"
#include "services/jack/JackClientLedger.h"
#include "services/jack/JackProcessTable.h"

namespace wex::test {
namespace {

// A JACK client of the test's own whose process callback is the table's.
class TableClient {
 public:
  explicit TableClient(JackProcessTable& table) {
    client_ = JackClientLedger::open(uniqueName("table"));
    if (!client_) return;
    port_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(client_, &JackProcessTable::processCallback, &table);
  }
  ~TableClient() {
    if (client_) JackClientLedger::close(client_);
  }
  bool ok() const { return client_ && port_; }
  jack_port_t* port() const { return port_; }
  bool activate() { return jack_activate(client_) == 0; }

 private:
  jack_client_t* client_ = nullptr;
  jack_port_t* port_ = nullptr;
};

// Waits until the table has run `count` more cycles.
bool waitForCycles(const JackProcessTable& table, uint64_t count) {
  const uint64_t start = table.cycles();
  return waitUntil([&] { return table.cycles() >= start + count; }, kJackWait);
}

TEST(JackProcessTable, AnOutputRingIsLeftAloneWhileItsHoldLastsAndEmptiedOnceItEnds) {
  if (!JackMIDIServices::serverRunning()) GTEST_SKIP() << "no JACK server is reachable";
  JackWakeSignal arrived;
  JackProcessTable table(arrived);
  JackRingBuffer ring(4096);
  std::atomic<uint64_t> dropped{0};
  std::atomic<uint64_t> heldUntil{std::numeric_limits<uint64_t>::max()};
  std::atomic<jack_time_t> awaitConnectedUntil{0};
  std::atomic<uint64_t> unconfirmed{0};
  {
    TableClient client(table);
    ASSERT_TRUE(client.ok());
    auto contents = std::make_unique<JackProcessTable::Table>();
    contents->outputs.push_back(
        {client.port(), &ring, &dropped, &heldUntil, &awaitConnectedUntil, &unconfirmed});
    table.publish(std::move(contents));
    ASSERT_TRUE(client.activate());

    const std::array<Byte, 3> note{0x90, 0x3C, 0x64};  // note on channel 1 C4 velocity 100
    const std::array<Byte, JackProcessTable::kMomentSize> due{};  // long ago: at once
    ASSERT_TRUE(ring.writeFrame(due.data(), due.size(), note.data(), note.size()));
    ASSERT_TRUE(waitForCycles(table, 4));
    EXPECT_EQ(ring.nextFrameLength(), due.size() + 3u);

    heldUntil = table.cycles() + 1;
    EXPECT_TRUE(waitUntil([&] { return ring.empty(); }, kJackWait));
    EXPECT_EQ(dropped.load(), 0u);

    // The port is connected to nothing: after its hold, the ring waits for a
    // connection to show until the wait runs out, which is counted.
    awaitConnectedUntil = jack_get_time() + 60'000'000;
    ASSERT_TRUE(ring.writeFrame(due.data(), due.size(), note.data(), note.size()));
    ASSERT_TRUE(waitForCycles(table, 4));
    EXPECT_EQ(ring.nextFrameLength(), due.size() + 3u);
    awaitConnectedUntil = jack_get_time();
    EXPECT_TRUE(waitUntil([&] { return ring.empty(); }, kJackWait));
    EXPECT_EQ(unconfirmed.load(), 1u);
    EXPECT_EQ(awaitConnectedUntil.load(), 0u);
  }
  table.clearAfterClose();
}

}  // namespace
}  // namespace wex::test
