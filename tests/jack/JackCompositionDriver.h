#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Value.h"

namespace wex::test {

// A composition with this system's patches on the MIDI services installed
// now, handled as a user would: it evaluates on its own thread, and panels
// are opened, read and edited on the main thread. It keeps every message
// value the receiver patch "rx" puts out, in the order put out.
class JackCompositionDriver {
 public:
  static constexpr const char* kReceiver = "rx";
  static constexpr const char* kSender = "tx";

  JackCompositionDriver();
  ~JackCompositionDriver();
  JackCompositionDriver(const JackCompositionDriver&) = delete;
  JackCompositionDriver& operator=(const JackCompositionDriver&) = delete;

  void addReceiver();
  void addSender();
  // Evaluates at 100 ticks a second (and at once when the receiver asks).
  void start();

  // The names listed in the patch's panel, which is opened (and so rescans)
  // if it is not open yet.
  std::vector<std::string> panelNames(const std::string& patchId);
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
