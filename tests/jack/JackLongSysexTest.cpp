#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/WexmidiProgram.h"
#include "jack/JackServicesFixture.h"

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

}  // namespace
}  // namespace wex::test
