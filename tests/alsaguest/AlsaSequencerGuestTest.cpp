// The ALSA services against a real sequencer: these run in a virtual machine
// with the kernel's Midi Through (snd-seq-dummy) and virtual raw MIDI
// (snd-virmidi) clients, where the test is free to load and unload modules.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "services/MIDIPacketList.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/alsa/AlsaEndpointTable.h"
#include "services/alsa/AlsaEventCoder.h"
#include "services/alsa/AlsaMIDIServices.h"
#include "shared/TestPaths.h"
#include "support/OwnerName.h"
#include "support/SystemLog.h"

namespace wex {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<Byte>;

constexpr const char* kThrough = "Midi Through:Midi Through Port-0";

// Everything the read callback got, packet by packet.
struct Received {
  std::mutex mutex;
  std::vector<Bytes> packets;

  static void readProc(const MIDIPacketList* list, void* refCon, void*) {
    auto* self = static_cast<Received*>(refCon);
    std::lock_guard lock(self->mutex);
    MIDIPacketIterator packets(list);
    MIDIPacketView packet;
    while (packets.next(packet))
      self->packets.emplace_back(packet.data, packet.data + packet.length);
  }
  Bytes joined() {
    std::lock_guard lock(mutex);
    Bytes all;
    for (const auto& packet : packets) all.insert(all.end(), packet.begin(), packet.end());
    return all;
  }
};

struct Notified {
  std::atomic<int> count{0};
  static void notifyProc(const MIDINotification* message, void* refCon) {
    if (message->messageID == kMIDIMsgSetupChanged) ++static_cast<Notified*>(refCon)->count;
  }
};

std::optional<std::string> nameOf(MIDIServices& services, MIDIEndpointRef endpoint) {
  std::optional<std::string> name;
  services.MIDIObjectGetStringProperty(endpoint, kMIDIPropertyName, &name);
  return name;
}

MIDIEndpointRef findEndpoint(MIDIServices& services, bool isSource, const std::string& name) {
  const ItemCount count =
      isSource ? services.MIDIGetNumberOfSources() : services.MIDIGetNumberOfDestinations();
  for (ItemCount i = 0; i < count; ++i) {
    const MIDIEndpointRef ref =
        isSource ? services.MIDIGetSource(i) : services.MIDIGetDestination(i);
    if (nameOf(services, ref) == name) return ref;
  }
  return 0;
}

Bytes sysexOfLength(size_t length) {
  Bytes sysex{0xF0};
  while (sysex.size() < length - 1) sysex.push_back(static_cast<Byte>(sysex.size() * 7 & 0x7F));
  sysex.push_back(0xF7);
  return sysex;
}

template <typename Done>
bool waitFor(Done done, std::chrono::milliseconds timeout = 3000ms) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class AlsaSequencerGuest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    services_ = AlsaMIDIServices::open("wexmidi", &error);
    ASSERT_TRUE(services_) << error;
    ASSERT_EQ(services_->MIDIClientCreate("test", &Notified::notifyProc, &notified_, &client_),
              noErr);
  }
  void TearDown() override {
    if (services_) services_->MIDIClientDispose(client_);
  }

  // Sends `bytes` to Midi Through and returns what came back from it.
  Bytes loop(const Bytes& bytes) {
    const MIDIEndpointRef source = findEndpoint(*services_, true, kThrough);
    const MIDIEndpointRef dest = findEndpoint(*services_, false, kThrough);
    EXPECT_NE(source, 0u);
    EXPECT_NE(dest, 0u);
    Received received;
    MIDIPortRef in = 0;
    MIDIPortRef out = 0;
    EXPECT_EQ(services_->MIDIInputPortCreate(client_, "in", &Received::readProc, &received, &in),
              noErr);
    EXPECT_EQ(services_->MIDIOutputPortCreate(client_, "out", &out), noErr);
    EXPECT_EQ(services_->MIDIPortConnectSource(in, source, nullptr), noErr);
    MIDIPacketListBuffer list(bytes.size() + 64);
    EXPECT_TRUE(list.addPacket(bytes));
    EXPECT_EQ(services_->MIDISend(out, dest, list.list()), noErr);
    EXPECT_TRUE(services_->waitUntilDelivered(5));
    EXPECT_EQ(services_->MIDIPortDisconnectSource(in, source), noErr);
    return received.joined();
  }

  std::shared_ptr<AlsaMIDIServices> services_;
  Notified notified_;
  MIDIClientRef client_ = 0;
};

TEST_F(AlsaSequencerGuest, MidiThroughIsListedByItsNamesAndAStableUniqueID) {
  const MIDIEndpointRef source = findEndpoint(*services_, true, kThrough);
  ASSERT_NE(source, 0u);
  int32_t uniqueID = 0;
  int32_t physical = -1;
  int32_t offline = -1;
  EXPECT_EQ(services_->MIDIObjectGetIntegerProperty(source, kMIDIPropertyUniqueID, &uniqueID),
            noErr);
  EXPECT_EQ(uniqueID, ListedEndpoint::uniqueIDFor(kThrough));
  EXPECT_EQ(services_->MIDIObjectGetIntegerProperty(source, kMIDIPropertyPhysical, &physical),
            noErr);
  EXPECT_EQ(physical, 0);
  EXPECT_EQ(services_->MIDIObjectGetIntegerProperty(source, kMIDIPropertyOffline, &offline), noErr);
  EXPECT_EQ(offline, 0);
  EXPECT_EQ(services_->addressOf(source), "14:0");
  EXPECT_EQ(services_->endpointNameAt("14:0", true), kThrough);
  EXPECT_EQ(services_->endpointNameAt("Midi Through", false), kThrough);
  // Never the System client, never our own private ports.
  for (ItemCount i = 0; i < services_->MIDIGetNumberOfSources(); ++i) {
    const auto name = nameOf(*services_, services_->MIDIGetSource(i));
    ASSERT_TRUE(name);
    EXPECT_NE(name->rfind("System:", 0), 0u) << *name;
    EXPECT_NE(name->rfind("wexmidi:", 0), 0u) << *name;
  }
}

TEST_F(AlsaSequencerGuest, ANoteLoopsBackThroughMidiThrough) {
  EXPECT_EQ(loop({0x90, 60, 100, 0x80, 60, 0}), (Bytes{0x90, 60, 100, 0x80, 60, 0}));
}

TEST_F(AlsaSequencerGuest, ASysexOf3000BytesGoesOutAndComesBackWhole) {
  const Bytes sysex = sysexOfLength(3000);
  EXPECT_EQ(loop(sysex), sysex);
}

// The names of our client's ports, as another client of the sequencer sees them.
// A client that never reads: once its pool is full, what is sent to it is
// dropped at once, and Midi Through, sent to in turn, still gets everything.
// The log names the client that drops, once, and never Midi Through.
TEST_F(AlsaSequencerGuest, ADestinationThatNeverReadsLosesOnlyItsOwnMessages) {
  SystemLog::Capture log;
  snd_seq_t* deaf = nullptr;
  ASSERT_EQ(snd_seq_open(&deaf, "default", SND_SEQ_OPEN_INPUT, 0), 0);
  snd_seq_set_client_name(deaf, "deaf");
  ASSERT_GE(
      snd_seq_create_simple_port(deaf, "in", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                 SND_SEQ_PORT_TYPE_MIDI_GENERIC),
      0);
  MIDIEndpointRef deafIn = 0;
  ASSERT_TRUE(waitFor([&] { return (deafIn = findEndpoint(*services_, false, "deaf:in")) != 0; }));
  const MIDIEndpointRef through = findEndpoint(*services_, false, kThrough);
  Received received;
  MIDIPortRef in = 0, out = 0;
  ASSERT_EQ(services_->MIDIInputPortCreate(client_, "in", &Received::readProc, &received, &in),
            noErr);
  ASSERT_EQ(services_->MIDIOutputPortCreate(client_, "out", &out), noErr);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, findEndpoint(*services_, true, kThrough), nullptr),
            noErr);
  constexpr int kMessages = 3000;
  Bytes expected;
  int refused = 0;
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  for (int i = 0; i < kMessages && std::chrono::steady_clock::now() < deadline; ++i) {
    const Bytes note{0x90, static_cast<Byte>(i % 128), static_cast<Byte>(1 + i / 128)};
    MIDIPacketListBuffer list(64);
    ASSERT_TRUE(list.addPacket(note));
    if (services_->MIDISend(out, deafIn, list.list()) != noErr) ++refused;
    ASSERT_EQ(services_->MIDISend(out, through, list.list()), noErr) << "message " << i;
    expected.insert(expected.end(), note.begin(), note.end());
  }
  ASSERT_EQ(expected.size(), 3u * kMessages) << "the messages to the reader were held up";
  EXPECT_TRUE(waitFor([&] { return received.joined().size() >= 3u * kMessages; }))
      << received.joined().size() / 3 << " of " << kMessages << " came back in time";
  EXPECT_EQ(received.joined(), expected);
  EXPECT_GT(refused, 0);
  const std::string stalled = "\tALSA MIDI output to \"deaf:in\" dropped ";
  auto linesNaming = [&](const std::string& start) {
    const auto lines = log.lines();
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& line) { return line.rfind(start, 0) == 0; });
  };
  EXPECT_TRUE(waitFor([&] { return linesNaming(stalled) > 0; }));
  std::this_thread::sleep_for(1500ms);  // a second report goes by
  EXPECT_EQ(linesNaming(stalled), 1);
  EXPECT_EQ(linesNaming("\tALSA MIDI output to \"" + std::string(kThrough)), 0);
  snd_seq_close(deaf);
}

std::vector<std::string> portNamesOf(int client) {
  std::string error;
  auto lister = AlsaSequencer::open("Guest Lister", &error);
  EXPECT_TRUE(lister) << error;
  std::vector<std::string> names;
  if (lister) {
    for (const AlsaPortInfo& port : lister->ports())
      if (port.client == client) names.push_back(port.portName);
  }
  return names;
}

TEST_F(AlsaSequencerGuest, APrivatePortIsNamedAfterItsOwnerAndSourceCutBetweenCharacters) {
  const MIDIEndpointRef source = findEndpoint(*services_, true, kThrough);
  ASSERT_NE(source, 0u);
  MIDIClientRef longOwner = 0;
  {
    OwnerName::Scope owner(std::string(62, 'o') + "\xC3\xA9");  // é: bytes 63 and 64
    ASSERT_EQ(services_->MIDIClientCreate("long", nullptr, nullptr, &longOwner), noErr);
  }
  Received received;
  MIDIPortRef in = 0;
  MIDIPortRef longIn = 0;
  ASSERT_EQ(services_->MIDIInputPortCreate(client_, "in", &Received::readProc, &received, &in),
            noErr);
  ASSERT_EQ(
      services_->MIDIInputPortCreate(longOwner, "in", &Received::readProc, &received, &longIn),
      noErr);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, source, nullptr), noErr);
  ASSERT_EQ(services_->MIDIPortConnectSource(longIn, source, nullptr), noErr);
  const std::vector<std::string> names = portNamesOf(services_->clientId());
  EXPECT_EQ(std::count(names.begin(), names.end(), "test from " + std::string(kThrough)), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), std::string(62, 'o')), 1);
  services_->MIDIClientDispose(longOwner);
}

TEST_F(AlsaSequencerGuest, OurVirtualSourceReachesOurVirtualDestinationThroughASubscription) {
  Received atDestination;
  MIDIEndpointRef source = 0;
  MIDIEndpointRef dest = 0;
  ASSERT_EQ(services_->MIDISourceCreate(client_, "guest out", &source), noErr);
  ASSERT_EQ(services_->MIDIDestinationCreate(client_, "guest in", &Received::readProc,
                                             &atDestination, &dest),
            noErr);
  EXPECT_EQ(nameOf(*services_, source), "guest out");
  Received atPort;
  MIDIPortRef in = 0;
  ASSERT_EQ(services_->MIDIInputPortCreate(client_, "in", &Received::readProc, &atPort, &in),
            noErr);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, source, nullptr), noErr);
  const Bytes sysex = sysexOfLength(3000);
  MIDIPacketListBuffer list(4096);
  list.addPacket(sysex);
  ASSERT_EQ(services_->MIDIReceived(source, list.list()), noErr);
  MIDIPortRef out = 0;
  ASSERT_EQ(services_->MIDIOutputPortCreate(client_, "out", &out), noErr);
  ASSERT_EQ(services_->MIDISend(out, dest, list.list()), noErr);
  ASSERT_TRUE(services_->waitUntilDelivered(5));
  EXPECT_EQ(atPort.joined(), sysex);
  EXPECT_EQ(atDestination.joined(), sysex);
}

// The virmidi card's source, and its raw MIDI device; 0 while there is none.
MIDIEndpointRef virmidiSource(MIDIServices& services, std::string* device = nullptr) {
  const std::string prefix = "Virtual Raw MIDI ";
  for (ItemCount i = 0; i < services.MIDIGetNumberOfSources(); ++i) {
    const auto name = nameOf(services, services.MIDIGetSource(i));
    if (!name || name->rfind(prefix, 0) != 0) continue;
    const std::string card = name->substr(prefix.size(), name->find('-') - prefix.size());
    if (device) *device = "/dev/snd/midiC" + card + "D0";
    return services.MIDIGetSource(i);
  }
  return 0;
}

// A kernel client's port cannot be unloaded while subscribed to (the
// subscription holds its module), so the module comes and goes between the
// connections, as a device unplugged between two runs.
TEST_F(AlsaSequencerGuest, VirmidiLoadedAndUnloadedIsASetupChangeAndTheSameEndpoint) {
  ASSERT_EQ(std::system("modprobe snd-virmidi midi_devs=1"), 0);
  ASSERT_TRUE(waitFor([&] { return virmidiSource(*services_) != 0; })) << "no virmidi source";
  ASSERT_TRUE(waitFor([&] { return notified_.count.load() > 0; }));
  const MIDIEndpointRef source = virmidiSource(*services_);

  const int before = notified_.count.load();
  ASSERT_EQ(std::system("rmmod snd_virmidi"), 0);
  ASSERT_TRUE(waitFor([&] { return virmidiSource(*services_) == 0; }));
  EXPECT_TRUE(waitFor([&] { return notified_.count.load() > before; }));
  int32_t offline = 0;
  EXPECT_EQ(services_->MIDIObjectGetIntegerProperty(source, kMIDIPropertyOffline, &offline), noErr);
  EXPECT_EQ(offline, 1);

  ASSERT_EQ(std::system("modprobe snd-virmidi midi_devs=1"), 0);
  std::string device;
  ASSERT_TRUE(waitFor([&] { return virmidiSource(*services_, &device) == source; }));
  Received received;
  MIDIPortRef in = 0;
  ASSERT_EQ(services_->MIDIInputPortCreate(client_, "in", &Received::readProc, &received, &in),
            noErr);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, source, nullptr), noErr);
  // What the device sends (written to its raw MIDI device) arrives.
  const std::string write = "printf '\\220\\074\\144' > " + device;
  ASSERT_TRUE(waitFor([&] {
    return std::system(write.c_str()) == 0 && services_->waitUntilDelivered(1) &&
           !received.joined().empty();
  })) << write;
  const Bytes got = received.joined();
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 3), (Bytes{0x90, 60, 100}));
  EXPECT_EQ(services_->MIDIPortDisconnectSource(in, source), noErr);
  EXPECT_EQ(std::system("rmmod snd_virmidi"), 0);
}

// A device of another program (a client of its own) that goes away while
// connected and comes back with another client number: the same endpoint,
// connected again without help.
TEST_F(AlsaSequencerGuest, AConnectionToADeviceThatLeavesAndComesBackIsMadeAgain) {
  const std::string name = "Guest Device:out";
  auto openDevice = [](int* port) {
    std::string error;
    auto device = AlsaSequencer::open("Guest Device", &error);
    *port = device ? device->createPort("out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ,
                                        SND_SEQ_PORT_TYPE_MIDI_GENERIC)
                   : -1;
    return device;
  };
  int port = -1;
  auto device = openDevice(&port);
  ASSERT_TRUE(device && port >= 0);
  ASSERT_TRUE(waitFor([&] { return findEndpoint(*services_, true, name) != 0; }));
  const MIDIEndpointRef source = findEndpoint(*services_, true, name);
  Received received;
  MIDIPortRef in = 0;
  ASSERT_EQ(services_->MIDIInputPortCreate(client_, "in", &Received::readProc, &received, &in),
            noErr);
  ASSERT_EQ(services_->MIDIPortConnectSource(in, source, nullptr), noErr);

  device.reset();
  ASSERT_TRUE(waitFor([&] { return findEndpoint(*services_, true, name) == 0; }));
  int32_t offline = 0;
  EXPECT_EQ(services_->MIDIObjectGetIntegerProperty(source, kMIDIPropertyOffline, &offline), noErr);
  EXPECT_EQ(offline, 1);
  device = openDevice(&port);
  ASSERT_TRUE(device && port >= 0);
  ASSERT_TRUE(waitFor([&] { return findEndpoint(*services_, true, name) == source; }));
  ASSERT_TRUE(services_->waitUntilDelivered(2));  // the reader has handled the announcement

  AlsaEventCoder coder;
  const Bytes note{0x90, 64, 90};
  coder.encode(note.data(), note.size(), [&](snd_seq_event_t& event) {
    snd_seq_ev_set_source(&event, port);
    snd_seq_ev_set_subs(&event);
    snd_seq_ev_set_direct(&event);
    EXPECT_EQ(device->send(event), 0);
    return true;
  });
  ASSERT_TRUE(waitFor([&] { return received.joined() == note; })) << received.joined().size();
}

std::string wexmidi() {
  const char* path = std::getenv("WEXMIDI");
  return path ? path : ::wex::test::kProgramPath;
}

TEST(AlsaSequencerGuestProgram, SendAndMonitorMeetThroughMidiThroughChosenByAddress) {
  const std::string output = (std::filesystem::temp_directory_path() /
                              ("wexmidi-monitor-" + std::to_string(::getpid()) + ".txt"))
                                 .string();
  const std::string monitor =
      wexmidi() + " --midi alsa monitor --source 14:0 --for 3 > " + output + " 2>/dev/null &";
  ASSERT_EQ(std::system(monitor.c_str()), 0);
  std::this_thread::sleep_for(1000ms);
  const std::string send = wexmidi() + " --midi alsa send --dest 'Midi Through' 9453120";
  ASSERT_EQ(std::system(send.c_str()), 0);
  std::this_thread::sleep_for(2500ms);
  std::FILE* file = std::fopen(output.c_str(), "r");
  ASSERT_TRUE(file);
  std::string text;
  std::array<char, 256> buffer{};
  while (std::fgets(buffer.data(), buffer.size(), file)) text += buffer.data();
  std::fclose(file);
  std::filesystem::remove(output);
  EXPECT_NE(text.find("9453120\t"), std::string::npos) << text;
}

}  // namespace
}  // namespace wex
