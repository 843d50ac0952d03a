#pragma once

#include <string>

#include "patches/DistributorSettingsController.h"
#include "patches/MIDI_CCDistributorPlugIn.h"

namespace wex {

// The CC distributor's panel: controllers 0 to 127, a tick box each, and
// the learn switch.
class CCDistributorSettingsController : public DistributorSettingsController {
 public:
  static constexpr const char* kTableName = "controllersTableView";

  CCDistributorSettingsController(MIDI_CCDistributorPlugIn& plugIn, std::string viewNibName);

  void learnControllers(PanelSwitch& sender) { learn(sender); }

  TableView* controllersTableView() const { return numbersTableView(); }
  const TableColumn* controllersNameColumn() const { return numbersNameColumn(); }
  const TableColumn* controllersEnableColumn() const { return numbersEnableColumn(); }

 protected:
  void enableRow(int row) override { patch_.enableControllerPort(row); }
  void disableRow(int row) override { patch_.disableControllerPort(row); }

 private:
  MIDI_CCDistributorPlugIn& patch_;
};

}  // namespace wex
