#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "services/MIDITypes.h"

namespace wex {

// Makes named operations of the embedded MIDI services fail on purpose, so
// that the failure paths of their callers can be exercised.
class EmbeddedFaultInjector {
 public:
  // The next `count` calls of the operation (its function name, for instance
  // "MIDIClientCreate") fail with the status.
  void failNext(const std::string& operation, OSStatus status, int count = 1);
  // Every call of the operation fails with the status until cleared.
  void failAlways(const std::string& operation, OSStatus status);
  void clear(const std::string& operation);
  void clearAll();

  // Called by each operation on entry: the status to fail with, if any.
  std::optional<OSStatus> take(const std::string& operation);

 private:
  struct Fault {
    OSStatus status = noErr;
    int remaining = 0;  // negative: every call
  };

  std::mutex mutex_;
  std::map<std::string, Fault> faults_;
};

}  // namespace wex
