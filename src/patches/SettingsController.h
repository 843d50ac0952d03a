#pragma once

#include <string>

#include "patches/EndpointSettingsController.h"
#include "patches/MIDISender.h"

namespace wex {

// The sender's panel: the MIDI destinations with a tick box each. Opening it
// rescans the destinations, keeping the flags of those listed before by name
// and enabling new ones.
class SettingsController : public EndpointSettingsController {
 public:
  static constexpr const char* kTableName = "receiversTableView";

  SettingsController(QCPlugIn& plugIn, std::string viewNibName, MIDISender& manager);

  TableView* receiversTableView() const { return endpointsTableView(); }
  const TableColumn* receiversNameColumn() const { return endpointsNameColumn(); }
  const TableColumn* receiversEnableColumn() const { return endpointsEnableColumn(); }
  MIDISender& manager() const { return manager_; }

 private:
  MIDISender& manager_;  // the patch's, which outlives the panel
};

}  // namespace wex
