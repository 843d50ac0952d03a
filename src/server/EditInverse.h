#pragma once

#include <string>

#include "host/Composition.h"
#include "host/ValueJSON.h"

namespace wex {

// The commands that take an edit back, read from the composition before the
// edit is done (after it for an add, whose id may be chosen then). Each is a
// list of commands, in the order they are to be done. Main thread.
class EditInverse {
 public:
  using Json = ValueJSON::Json;

  // True for the commands undo takes back: add, remove, connect, disconnect,
  // move, set, and panel edits (tick, untick, switch, number). `kind` is the
  // name the command was dispatched by.
  static bool isEdit(const std::string& kind, const Json& command);
  // The undo of an edit about to be done (not an add).
  static Json before(Composition& composition, const std::string& kind, const Json& command);
  // The undo of an add that gave the patch `id`.
  static Json afterAdd(const std::string& id);

 private:
  static Json ofRemove(Composition& composition, const std::string& id);
  static Json ofPanelEdit(Composition& composition, const Json& command);
};

}  // namespace wex
