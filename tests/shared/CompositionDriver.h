#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Value.h"
#include "services/MIDIServices.h"

namespace wex {

// Values in test failures: their JSON.
void PrintTo(const Value& value, std::ostream* out);

}  // namespace wex

namespace wex::test {

using Bytes = std::vector<Byte>;

// A message value as the patches carry it: (type|channel)<<16 | data1<<8 | data2.
Value messageNumber(unsigned status, unsigned data1 = 0, unsigned data2 = 0);
// A system exclusive message of `length` bytes, framing included.
Bytes sysexOfLength(size_t length);
// Its value as the patches carry it: the bytes between the framing, in
// decimal, comma separated.
Value sysexString(const Bytes& sysex);

// A composition with this system's patches on real MIDI services, installed
// for the driver's life, handled as a user would: it evaluates on its own
// thread, and panels are opened, read and edited on the main thread. It keeps
// every message value the receiver patch "rx" puts out, in the order put out.
class CompositionDriver {
 public:
  static constexpr const char* kReceiver = "rx";
  static constexpr const char* kSender = "tx";

  explicit CompositionDriver(std::shared_ptr<MIDIServices> services);
  ~CompositionDriver();
  CompositionDriver(const CompositionDriver&) = delete;
  CompositionDriver& operator=(const CompositionDriver&) = delete;

  void addReceiver();
  void addSender();
  // Evaluates at 100 ticks a second (and at once when the receiver asks).
  void start();
  uint64_t tickCount() const { return composition_->tickCount(); }

  // The names listed in the patch's panel, which is opened (and so rescans)
  // if it is not open yet.
  std::vector<std::string> panelNames(const std::string& patchId);
  bool panelLists(const std::string& patchId, const std::string& name);
  // Ticks, in the patch's panel, exactly the endpoints named.
  void enableOnly(const std::string& patchId, const std::set<std::string>& names);
  void setEnabled(const std::string& patchId, const std::string& name, bool enabled);
  void closePanel(const std::string& patchId);

  // The sender's "Messages" (a list of message values) and "Resend" inputs.
  void send(const std::vector<Value>& messages, bool resend = false);
  void setResend(bool resend);

  // Every message value the receiver put out so far.
  std::vector<Value> received() const;
  size_t receivedCount() const;
  void clearReceived();

 private:
  void collectReceiverOutput();

  PlugInRegistry registry_;
  std::unique_ptr<Composition> composition_;
  mutable std::mutex receivedMutex_;
  std::vector<Value> received_;
  uint64_t receiverVersion_ = 0;  // evaluation thread only
};

}  // namespace wex::test
