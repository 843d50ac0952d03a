#pragma once

#include <cstddef>
#include <string>

#include "host/PanelSwitch.h"
#include "host/QCPlugInViewController.h"
#include "patches/DistributorPlugIn.h"

namespace wex {

// A distributor's panel: the numbers 0 to 127 with a tick box each (ticked
// when the number has its ports) and a learn switch. Closing the panel while
// the patch learns ends learning, so what was learned gets its ports.
class DistributorSettingsController : public QCPlugInViewController {
 public:
  static constexpr const char* kNumberColumn = "number";
  static constexpr const char* kEnableColumn = "enabled";
  static constexpr const char* kLearnSwitch = "learn";

  // The layout of such a panel: the table and the learn switch.
  static void registerLayout(const std::string& panelName, const std::string& tableName,
                             const std::string& numberTitle);

  ~DistributorSettingsController() override;

  size_t numberOfRowsInTableView(const TableView& table) override;
  Value tableViewObjectValueForTableColumn(const TableView& table, const TableColumn& column,
                                           size_t row) override;
  void tableViewSetObjectValue(const TableView& table, const Value& value,
                               const TableColumn& column, size_t row) override;

  // The learn switch; its action starts and ends learning.
  PanelSwitch* learnSwitch() const { return learnSwitch_; }

 protected:
  DistributorSettingsController(DistributorPlugIn& plugIn, std::string viewNibName,
                                const std::string& tableName, const std::string& numberTitle);

  // The switch's action: learning follows the switch's state.
  void learn(PanelSwitch& sender);
  // The patch's own enable and disable operations for a row.
  virtual void enableRow(int row) = 0;
  virtual void disableRow(int row) = 0;

  TableView* numbersTableView() const { return tableView_; }
  const TableColumn* numbersNameColumn() const { return nameColumn_; }
  const TableColumn* numbersEnableColumn() const { return enableColumn_; }
  DistributorPlugIn& distributor() const { return distributor_; }

 private:
  DistributorPlugIn& distributor_;
  TableView* tableView_ = nullptr;
  const TableColumn* nameColumn_ = nullptr;
  const TableColumn* enableColumn_ = nullptr;
  PanelSwitch* learnSwitch_ = nullptr;
};

}  // namespace wex
