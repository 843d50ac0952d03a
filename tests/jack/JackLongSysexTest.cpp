#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/WexmidiProgram.h"
#include "jack/JackServicesFixture.h"
#include "jack/PlainJackPeer.h"

namespace wex::test {
namespace {

// `wexmidi send` puts a sysex longer than one packet list into pieces; the
// JACK services carry them as events that fit a cycle, and the receiving side
// gets every byte in order.
TEST_F(JackServicesTest, ASysexOf20000BytesSentByWexmidiSendArrivesWhole) {
  if (slowCyclesLoseOnPipeWire()) GTEST_SKIP() << kSlowCyclesSkipReason;
  PacketCollector& collector = newCollector();
  const std::string name = uniqueName("wex long sysex");
  MIDIEndpointRef destination = 0;
  ASSERT_EQ(services_->MIDIDestinationCreate(makeClient(), name, PacketCollector::readProc,
                                             &collector, &destination),
            noErr);
  Bytes sysex{0xF0};
  while (sysex.size() < 19999) sysex.push_back(static_cast<Byte>(sysex.size() * 7 & 0x7F));
  sysex.push_back(0xF7);
  const auto file = std::filesystem::temp_directory_path() /
                    ("wexmidi-long-" + std::to_string(::getpid()) + ".syx");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(sysex.data()),
             static_cast<std::streamsize>(sysex.size()));

  const std::string path = file.string();
  const char* argv[] = {"wexmidi", "--midi",     "jack",   "send",
                        "--dest",  name.c_str(), "--file", path.c_str()};
  std::istringstream in;
  std::ostringstream out, err;
  const int status = WexmidiProgram().run(8, argv, in, out, err);
  std::filesystem::remove(file);
  ASSERT_EQ(status, 0) << err.str();
  EXPECT_EQ(err.str(), "wexmidi send: sent 1 message to " + name + "\n");
  EXPECT_TRUE(waitUntil([&] { return collector.allBytes().size() >= sysex.size(); }, kJackWait))
      << collector.allBytes().size() << " bytes arrived in " << collector.count() << " packets";
  EXPECT_EQ(collector.allBytes(), sysex);
}

// A sysex of `length` bytes, F0 and F7 included.
Bytes sysexOf(size_t length) {
  Bytes sysex{0xF0};
  while (sysex.size() < length - 1) sysex.push_back(static_cast<Byte>(sysex.size() * 7 & 0x7F));
  sysex.push_back(0xF7);
  return sysex;
}

// `wexmidi send --file` with the sysex, to that destination; the program's
// status.
int sendFile(const std::string& destination, const Bytes& sysex, std::string* error) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("wexmidi-peer-" + std::to_string(::getpid()) + ".syx");
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(sysex.data()),
             static_cast<std::streamsize>(sysex.size()));
  const std::string path = file.string();
  const char* argv[] = {"wexmidi",           "--midi", "jack",      "send", "--dest",
                        destination.c_str(), "--file", path.c_str()};
  std::istringstream in;
  std::ostringstream out, err;
  const int status = WexmidiProgram().run(8, argv, in, out, err);
  std::filesystem::remove(file);
  *error = err.str();
  return status;
}

// A plain JACK client reads a long sysex as other JACK programs read it: one
// event when it fits in one (as it does up to the server's event size, some
// 32 KB on jackd and PipeWire), else pieces of at most that size, the first
// starting with F0, the last ending with F7 and none of them carrying
// another status byte (as a2jmidid sends them on to ALSA).
TEST_F(JackServicesTest, ALongSysexReachesAPlainJackPeerAsOneEventOrAsPiecesOfOne) {
  if (slowCyclesLoseOnPipeWire()) GTEST_SKIP() << kSlowCyclesSkipReason;
  PlainJackPeer peer(uniqueName("sysex peer"));
  ASSERT_TRUE(peer.ok());
  ASSERT_NE(waitForEndpoint(*services_, false, peer.inputName()), 0u);
  struct Case {
    size_t length;
    size_t events;
  };
  for (const Case& sent : {Case{20000, 1}, Case{70000, 3}}) {
    SCOPED_TRACE(std::to_string(sent.length) + " bytes");
    const size_t before = peer.events().size();
    const Bytes sysex = sysexOf(sent.length);
    std::string error;
    ASSERT_EQ(sendFile(peer.inputName(), sysex, &error), 0) << error;
    Bytes joined;
    std::vector<PlainJackPeer::Event> events;
    waitUntil(
        [&] {
          events = peer.events();
          events.erase(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(before));
          joined.clear();
          for (const auto& event : events)
            joined.insert(joined.end(), event.bytes.begin(), event.bytes.end());
          return joined.size() >= sysex.size();
        },
        kJackWait);
    EXPECT_EQ(joined, sysex) << joined.size() << " bytes arrived in " << events.size() << " events";
    ASSERT_EQ(events.size(), sent.events);
    for (size_t i = 0; i < events.size(); ++i) {
      const Bytes& piece = events[i].bytes;
      SCOPED_TRACE("event " + std::to_string(i + 1) + " of " + std::to_string(piece.size()) +
                   " bytes");
      EXPECT_EQ(piece.front() == 0xF0, i == 0);
      EXPECT_EQ(piece.back() == 0xF7, i + 1 == events.size());
      if (piece.size() > 2) {
        EXPECT_TRUE(
            std::none_of(piece.begin() + 1, piece.end() - 1, [](Byte b) { return b >= 0x80; }));
      }
    }
  }
}

}  // namespace
}  // namespace wex::test
