#include "patches/DistributorSettingsController.h"

#include "host/PanelLayouts.h"
#include "patches/PanelCellValue.h"

namespace wex {

namespace {

std::vector<TableColumn> numberColumns(const std::string& numberTitle) {
  return {TableColumn(DistributorSettingsController::kNumberColumn, numberTitle,
                      TableColumn::Kind::Text, false),
          TableColumn(DistributorSettingsController::kEnableColumn, "Enabled",
                      TableColumn::Kind::CheckBox, true)};
}

}  // namespace

void DistributorSettingsController::registerLayout(const std::string& panelName,
                                                   const std::string& tableName,
                                                   const std::string& numberTitle) {
  PanelLayout layout;
  layout.tables.push_back(PanelLayout::Table{tableName, numberColumns(numberTitle)});
  layout.switches.push_back(PanelLayout::Switch{kLearnSwitch, "Learn"});
  PanelLayouts::registerLayout(panelName, std::move(layout));
}

DistributorSettingsController::DistributorSettingsController(DistributorPlugIn& plugIn,
                                                             std::string viewNibName,
                                                             const std::string& tableName,
                                                             const std::string& numberTitle)
    : QCPlugInViewController(plugIn, std::move(viewNibName)), distributor_(plugIn) {
  tableView_ = tableViewNamed(tableName);
  // Without its layout the panel still needs its table and switch.
  if (!tableView_) tableView_ = &addTableView(tableName, numberColumns(numberTitle));
  nameColumn_ = tableView_->columnWithIdentifier(kNumberColumn);
  enableColumn_ = tableView_->columnWithIdentifier(kEnableColumn);
  learnSwitch_ = switchNamed(kLearnSwitch);
  if (!learnSwitch_) learnSwitch_ = &addSwitch(kLearnSwitch, "Learn", nullptr);
  learnSwitch_->setState(distributor_.learnMessages());
  learnSwitch_->setAction([this](PanelSwitch& sender) { learn(sender); });
  tableView_->reloadData();
}

DistributorSettingsController::~DistributorSettingsController() {
  if (distributor_.learnMessages()) distributor_.setLearnMessages(false);
}

void DistributorSettingsController::learn(PanelSwitch& sender) {
  distributor_.setLearnMessages(sender.state());
  tableView_->reloadData();
}

size_t DistributorSettingsController::numberOfRowsInTableView(const TableView& table) {
  return &table == tableView_ ? distributor_.enableList().size() : 0;
}

Value DistributorSettingsController::tableViewObjectValueForTableColumn(const TableView& table,
                                                                        const TableColumn& column,
                                                                        size_t row) {
  if (&table != tableView_) return Value();
  if (column.identifier() == kNumberColumn) return Value::string(std::to_string(row));
  if (column.identifier() == kEnableColumn) {
    return panelTick(distributor_.isEnabled(static_cast<int>(row)));
  }
  return Value();
}

void DistributorSettingsController::tableViewSetObjectValue(const TableView& table,
                                                            const Value& value,
                                                            const TableColumn& column, size_t row) {
  if (&table != tableView_ || column.identifier() != kEnableColumn) return;
  if (row >= distributor_.enableList().size()) return;
  const int number = static_cast<int>(row);
  const bool tick = panelIntegerReading(value) == 1;
  // Ticking a ticked row (or unticking an unticked one) is no change: the
  // ports are as asked already, and asking the host again would be refused.
  if (tick == distributor_.isEnabled(number)) return;
  if (tick) {
    enableRow(number);
  } else {
    disableRow(number);
  }
}

}  // namespace wex
