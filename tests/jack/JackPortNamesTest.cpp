#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "jack/JackServicesFixture.h"
#include "shared/TestPaths.h"

namespace wex::test {
namespace {

// A thru composition: the receiver "keys" hears every source, the sender
// "synth" passes what it hears on to every destination.
constexpr const char* kThru = R"({
  "format": "wexmidi composition",
  "version": 1,
  "patches": [
    {"id": "keys", "class": "MIDI_ReceiverPlugIn"},
    {"id": "synth", "class": "MIDI_SenderPlugIn"}
  ],
  "connections": [{"from": "keys.outputMessages", "to": "synth.inputMessages"}]
})";

class JackPortNamesTest : public JackServicesTest {
 protected:
  void SetUp() override {
    JackServicesTest::SetUp();
    file_ = std::filesystem::temp_directory_path() /
            ("wexmidi-names-" + std::to_string(::getpid()) + ".wexcomp.json");
    std::ofstream(file_) << kThru;
  }
  void TearDown() override {
    std::filesystem::remove(file_);
    JackServicesTest::TearDown();
  }

  // Runs the composition in a wexmidi process whose JACK client is named
  // `clientName`, until its ports to and from `peer`'s are there; returns
  // the names of its ports then. The process is stopped as a user would.
  std::vector<std::string> portsOfARun(const std::string& clientName,
                                       const std::vector<std::string>& expected) {
    ChildProcess run({::wex::test::kProgramPath, "--name", clientName, "run", file_.string(),
                      "--for", "60", "--midi", "jack"},
                     jackEnvironment());
    const std::vector<std::string> ports = waitForJackPorts(clientName, expected);
    run.setStopSignal(SIGINT);
    run.stop();
    EXPECT_TRUE(waitUntilJackClientGone(clientName)) << run.output();
    return ports;
  }

  std::filesystem::path file_;
};

TEST_F(JackPortNamesTest, PrivatePortsAreNamedAfterPatchAndPeerAlikeInEveryRunUnderTheGivenName) {
  const std::string peer = uniqueName("names");
  JackClientProcess sequencer(
      peer + "seq", {"jack_midiseq", peer + "seq", "4800", "0", "60", "1000"}, jackEnvironment());
  JackClientProcess dump(peer + "dump", {"jack_midi_dump", peer + "dump"}, jackEnvironment());
  ASSERT_NE(waitForEndpoint(*services_, true, peer + "seq:out"), 0u) << sequencer.output();
  ASSERT_NE(waitForEndpoint(*services_, false, peer + "dump:input"), 0u) << dump.output();

  const std::vector<std::string> expected{"keys from " + peer + "seq:out",
                                          "synth to " + peer + "dump:input"};
  // Only the ports to and from this test's peers: others may come and go.
  auto ofThisTest = [&](const std::vector<std::string>& ports) {
    std::vector<std::string> kept;
    for (const auto& port : ports) {
      if (port.find(peer) != std::string::npos) kept.push_back(port);
    }
    return kept;
  };
  const std::string clientName = uniqueName("stage rig");
  const auto first = ofThisTest(portsOfARun(clientName, expected));
  const auto second = ofThisTest(portsOfARun(clientName, expected));
  EXPECT_EQ(first, expected);
  EXPECT_EQ(second, first);
}

}  // namespace
}  // namespace wex::test
