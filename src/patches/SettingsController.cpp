#include "patches/SettingsController.h"

namespace wex {

SettingsController::SettingsController(QCPlugIn& plugIn, std::string viewNibName,
                                       MIDISender& manager)
    : EndpointSettingsController(plugIn, std::move(viewNibName), kTableName, manager.destArray()),
      manager_(manager) {
  const OrvMIDISnapshot snapshot = manager_.createSnapshot();
  manager_.setupChanged();
  manager_.loadSnapshot(&snapshot);
  receiversTableView()->reloadData();
}

}  // namespace wex
