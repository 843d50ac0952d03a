#pragma once

#include <cstddef>
#include <memory>

#include "host/PlugInRegistry.h"
#include "host/QCPlugIn.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadTarget.h"

namespace wex::bench {

// Messages as a busy controller sends them to a composition: notes, control
// changes and pitch wheel, with a system exclusive message of 8 data bytes
// as every 50th. The first is a note on.
OrvMIDIMessageList patchMessages(size_t count);

// Makes patches of one class as the host does; the current MIDI services must
// be installed first and outlive the patches.
class PatchMaker {
 public:
  PatchMaker();

  template <class T>
  std::shared_ptr<T> make(const char* className) const {
    return std::dynamic_pointer_cast<T>(makePatch(className));
  }

 private:
  std::shared_ptr<QCPlugIn> makePatch(const char* className) const;

  PlugInRegistry registry_;
};

}  // namespace wex::bench
