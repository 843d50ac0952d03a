#pragma once

#include <cstdint>
#include <string>

#include "host/QCPlugInViewController.h"
#include "host/ValueJSON.h"

namespace wex {

// Shows a settings panel as JSON or text, and makes a user's edits through
// the controller's own operations. Call on the main thread.
class PanelView {
 public:
  static ValueJSON::Json describe(QCPlugInViewController& panel, const std::string& id);
  static std::string text(QCPlugInViewController& panel, const std::string& id);

  // Ticks or unticks a row of the panel's first table with a tick-box column.
  static bool tick(QCPlugInViewController& panel, uint64_t row, bool on, std::string* reason);
  // Sets a switch as a user's click would, action included.
  static bool setSwitch(QCPlugInViewController& panel, const std::string& name, bool on,
                        std::string* reason);
  static bool setNumber(QCPlugInViewController& panel, const std::string& name, uint64_t value,
                        std::string* reason);
  // "on"/"off" (also "true"/"false", "1"/"0").
  static bool parseState(const std::string& text, bool* on);
};

}  // namespace wex
