#include "patches/ReceiverSettingsController.h"

namespace wex {

ReceiverSettingsController::ReceiverSettingsController(QCPlugIn& plugIn, std::string viewNibName,
                                                       MIDIReceiver& manager)
    : EndpointSettingsController(plugIn, std::move(viewNibName), kTableName, manager.sourceArray()),
      manager_(manager) {
  manager_.setupChanged();
  sourcesTableView()->reloadData();
}

}  // namespace wex
