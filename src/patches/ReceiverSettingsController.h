#pragma once

#include <string>

#include "patches/EndpointSettingsController.h"
#include "patches/MIDIReceiver.h"

namespace wex {

// The receiver's panel: the MIDI sources with a tick box each. Opening it
// rescans the sources, which lists new ones and enables every source again.
class ReceiverSettingsController : public EndpointSettingsController {
 public:
  static constexpr const char* kTableName = "sourcesTableView";

  ReceiverSettingsController(QCPlugIn& plugIn, std::string viewNibName, MIDIReceiver& manager);

  TableView* sourcesTableView() const { return endpointsTableView(); }
  const TableColumn* sourcesNameColumn() const { return endpointsNameColumn(); }
  const TableColumn* sourcesEnableColumn() const { return endpointsEnableColumn(); }
  MIDIReceiver& manager() const { return manager_; }

 private:
  MIDIReceiver& manager_;  // the patch's, which outlives the panel
};

}  // namespace wex
