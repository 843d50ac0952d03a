#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wex {

// A port of the sequencer as a listing shows it.
struct AlsaPortInfo {
  int client = 0;
  int port = 0;
  std::string clientName;
  std::string portName;
  unsigned capability = 0;
  unsigned type = 0;
};

// The sequencer keeps 63 bytes of a port's name: a longer name is cut there,
// or just before, so that no UTF-8 character is cut in half.
std::string fitPortName(const std::string& name);

// The process's one client of the ALSA sequencer. Every call but the input
// ones may come from any thread (they share one lock, as the library keeps
// state in the handle); input is read by one thread only.
class AlsaSequencer {
 public:
  // Opens the sequencer as a client named `clientName`; null, with the reason
  // in `error`, when there is no sequencer.
  static std::unique_ptr<AlsaSequencer> open(const std::string& clientName, std::string* error);
  ~AlsaSequencer();
  AlsaSequencer(const AlsaSequencer&) = delete;
  AlsaSequencer& operator=(const AlsaSequencer&) = delete;

  int clientId() const { return clientId_; }
  std::string clientName();

  // A port of ours; its number, or -1. The name is cut to what the sequencer
  // keeps (see fitPortName).
  int createPort(const std::string& name, unsigned capability, unsigned type);
  void deletePort(int port);
  bool subscribe(const snd_seq_addr_t& sender, const snd_seq_addr_t& dest);
  bool unsubscribe(const snd_seq_addr_t& sender, const snd_seq_addr_t& dest);
  bool subscribed(const snd_seq_addr_t& sender, const snd_seq_addr_t& dest);
  // Every port of every client, in the order of their numbers.
  std::vector<AlsaPortInfo> ports();
  // The address that a text names as aconnect reads it ("14:0", "14",
  // "Midi Through:0", a client name); false when it names none.
  bool parseAddress(const std::string& text, snd_seq_addr_t* address);

  // Sends an event now, waiting up to `roomWait` while the sequencer or the
  // destination has no room; a negative error code when it cannot be sent.
  int send(snd_seq_event_t& event,
           std::chrono::steady_clock::duration roomWait = std::chrono::seconds(1));
  // Waits (at most a second) until our own input pool has `cells` free.
  // What we send to our own ports lands there, and a sender faster than our
  // reader would otherwise overflow it and lose events. On the thread that
  // reads events it returns at once: it would wait for itself.
  void waitForInputRoom(int cells);

  // Input, for the reading thread only.
  std::vector<pollfd> inputDescriptors();
  // An event, null when none is waiting; `error` gets the negative code of a
  // failed read (-ENOSPC: events were lost because input overflowed).
  snd_seq_event_t* readEvent(int* error);

 private:
  explicit AlsaSequencer(snd_seq_t* seq);

  std::mutex mutex_;
  snd_seq_t* seq_;
  int clientId_;
  std::atomic<std::thread::id> readingThread_{};
};

}  // namespace wex
