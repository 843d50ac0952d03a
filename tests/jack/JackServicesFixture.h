#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jack/ChildProcess.h"
#include "services/MIDIPacketList.h"
#include "services/MIDIPacketListBuffer.h"
#include "services/jack/JackMIDIServices.h"

namespace wex::test {

using Bytes = std::vector<Byte>;

// Long enough to ride out the pause a server takes over a killed client.
constexpr std::chrono::milliseconds kJackWait{15000};

// Collects what a read callback is given: one entry per packet.
class PacketCollector {
 public:
  static void readProc(const MIDIPacketList* list, void* refCon, void*) {
    auto* self = static_cast<PacketCollector*>(refCon);
    MIDIPacketIterator packets(list);
    MIDIPacketView packet;
    std::lock_guard lock(self->mutex_);
    self->lists_++;
    while (packets.next(packet))
      self->packets_.emplace_back(packet.data, packet.data + packet.length);
  }

  std::vector<Bytes> packets() const {
    std::lock_guard lock(mutex_);
    return packets_;
  }
  size_t count() const {
    std::lock_guard lock(mutex_);
    return packets_.size();
  }
  Bytes allBytes() const {
    Bytes bytes;
    for (const auto& packet : packets()) bytes.insert(bytes.end(), packet.begin(), packet.end());
    return bytes;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Bytes> packets_;
  int lists_ = 0;
};

// Counts setup-changed notifications.
struct NotificationCounter {
  std::atomic<int> setupChanged{0};
  static void notifyProc(const MIDINotification* message, void* refCon) {
    if (message->messageID == kMIDIMsgSetupChanged) {
      static_cast<NotificationCounter*>(refCon)->setupChanged++;
    }
  }
};

// Polls until the server no longer has a client of that name.
bool waitUntilJackClientGone(const std::string& clientName);
// The short names of the ports the client of that name has now, sorted.
std::vector<std::string> jackPortsOf(const std::string& clientName);
// Polls until the client has every port named; then its ports, sorted.
std::vector<std::string> waitForJackPorts(const std::string& clientName,
                                          const std::vector<std::string>& wanted);

// A JACK example client a test runs, named `clientName`. Ended by SIGTERM,
// jack_midi_dump dies without closing its client, and the server then waits
// out its client timeout before the graph goes on. Both example clients close
// on SIGINT, so that is how they are stopped; stop() then waits until the
// client is gone, so that nothing of it is left to whatever runs next.
class JackClientProcess {
 public:
  JackClientProcess(const std::string& clientName, const std::vector<std::string>& arguments,
                    const std::map<std::string, std::string>& environment)
      : clientName_(clientName), process_(arguments, environment) {
    process_.setStopSignal(SIGINT);
  }
  ~JackClientProcess() { stop(); }
  void stop() {
    if (!process_.started()) return;
    process_.stop();
    waitUntilJackClientGone(clientName_);
  }
  std::string output() const { return process_.output(); }

 private:
  std::string clientName_;
  ChildProcess process_;
};

// Environment for the JACK example clients the tests start: the same server.
inline std::map<std::string, std::string> jackEnvironment() {
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  if (!server) return {};
  return {{"JACK_DEFAULT_SERVER", server}};
}

// The endpoint whose JACK port has the given full name, once it is listed.
inline MIDIEndpointRef waitForEndpoint(JackMIDIServices& services, bool source,
                                       const std::string& jackName) {
  MIDIEndpointRef found = 0;
  waitUntil(
      [&] {
        const ItemCount count =
            source ? services.MIDIGetNumberOfSources() : services.MIDIGetNumberOfDestinations();
        for (ItemCount i = 0; i < count; ++i) {
          const MIDIEndpointRef ref =
              source ? services.MIDIGetSource(i) : services.MIDIGetDestination(i);
          if (services.jackPortName(ref) == jackName) {
            found = ref;
            return true;
          }
        }
        return false;
      },
      kJackWait);
  return found;
}

inline std::optional<std::string> nameOf(JackMIDIServices& services, MIDIEndpointRef endpoint) {
  std::optional<std::string> name;
  if (services.MIDIObjectGetStringProperty(endpoint, kMIDIPropertyName, &name) != noErr) {
    return std::nullopt;
  }
  return name;
}

inline int32_t integerOf(JackMIDIServices& services, MIDIEndpointRef endpoint,
                         const char* property) {
  int32_t value = -1;
  services.MIDIObjectGetIntegerProperty(endpoint, property, &value);
  return value;
}

// The events jack_midi_dump printed, one byte list per line ("  12: 90 3c 64 note on ...").
std::vector<Bytes> dumpedEvents(const std::string& output);
// Whether jack_midi_dump printed that event.
bool wasDumped(const std::string& output, const Bytes& event);

// Points the JACK library at another server for the life of the object.
class ScopedServerName {
 public:
  explicit ScopedServerName(const std::string& name) {
    if (const char* old = std::getenv("JACK_DEFAULT_SERVER")) previous_ = old;
    setenv("JACK_DEFAULT_SERVER", name.c_str(), 1);
  }
  ~ScopedServerName() {
    if (previous_) {
      setenv("JACK_DEFAULT_SERVER", previous_->c_str(), 1);
    } else {
      unsetenv("JACK_DEFAULT_SERVER");
    }
  }

 private:
  std::optional<std::string> previous_;
};

// Whether tests may start JACK servers of their own. Every server of a user
// shares one metadata database, and a starting server resets it under the
// clients of any other server that runs: so only where the environment says
// no other server runs (WEX_JACK_OWN_SERVERS=1, as CI sets it).
bool ownJackServersAllowed();
inline constexpr const char* kOwnJackServersSkipReason =
    "starts JACK servers of its own: set WEX_JACK_OWN_SERVERS=1 where no other JACK server runs";

// Whether the JACK library in use is PipeWire's (run through pw-jack).
bool onPipeWire();

// Whether the tests are built for ThreadSanitizer, which slows every thread.
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kUnderThreadSanitizer = true;
#elif defined(__has_feature)
inline constexpr bool kUnderThreadSanitizer = __has_feature(thread_sanitizer);
#else
inline constexpr bool kUnderThreadSanitizer = false;
#endif

// For the tests that send over a connection just made and expect every event:
// on PipeWire's JACK, with our threads slowed by ThreadSanitizer, the events of
// whole cycles went missing (the first one sent often arrived, later ones not),
// in almost every run; the server does not wait for a client that is late.
inline bool slowCyclesLoseOnPipeWire() {
  return kUnderThreadSanitizer && onPipeWire();
}
inline constexpr const char* kSlowCyclesSkipReason =
    "on PipeWire's JACK under ThreadSanitizer, the events of whole cycles are lost";

// A JACK server of the test's own (for tests that kill it), on the dummy
// driver. Stopping it gives it time to close properly: a server killed
// outright keeps its place in JACK's small table of servers. On PipeWire's
// JACK it is a PipeWire daemon started with the config WEX_PIPEWIRE_CONFIG
// names (PipeWire's library ignores the server name and reaches the daemon
// of XDG_RUNTIME_DIR). A `realtime` jackd schedules its cycles in realtime
// where the system lets it.
std::unique_ptr<ChildProcess> startJackServer(const std::string& name, bool realtime = false);
// Waits until the server the environment names can be reached.
bool jackServerUp();

// A test against the JACK server the environment names; skipped without one.
class JackServicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!JackMIDIServices::serverRunning()) {
      GTEST_SKIP() << "no JACK server is reachable (start one and set JACK_DEFAULT_SERVER)";
    }
    std::string error;
    services_ = JackMIDIServices::open(uniqueName("wextest"), &error);
    ASSERT_TRUE(services_) << error;
  }

  void TearDown() override {
    if (!services_) return;
    for (MIDIClientRef client : clients_) services_->MIDIClientDispose(client);
    services_.reset();
  }

  MIDIClientRef makeClient(NotificationCounter* counter = nullptr) {
    MIDIClientRef client = 0;
    EXPECT_EQ(services_->MIDIClientCreate(
                  "test", counter ? NotificationCounter::notifyProc : nullptr, counter, &client),
              noErr);
    clients_.push_back(client);
    return client;
  }

  MIDIPortRef makeInputPort(MIDIClientRef client, PacketCollector& collector) {
    MIDIPortRef port = 0;
    EXPECT_EQ(
        services_->MIDIInputPortCreate(client, "in", PacketCollector::readProc, &collector, &port),
        noErr);
    return port;
  }

  MIDIPortRef makeOutputPort(MIDIClientRef client) {
    MIDIPortRef port = 0;
    EXPECT_EQ(services_->MIDIOutputPortCreate(client, "out", &port), noErr);
    return port;
  }

  // Callback targets live as long as the fixture, past the disposal of the
  // clients in TearDown.
  PacketCollector& newCollector() { return collectors_.emplace_back(); }

  std::list<PacketCollector> collectors_;
  NotificationCounter counter_;
  std::shared_ptr<JackMIDIServices> services_;
  std::vector<MIDIClientRef> clients_;
};

}  // namespace wex::test
