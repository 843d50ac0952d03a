#include "host/QCPlugInViewController.h"

#include "host/PanelLayouts.h"
#include "host/QCPlugIn.h"

namespace wex {

QCPlugInViewController::QCPlugInViewController(QCPlugIn& plugIn, std::string viewNibName)
    : plugIn_(plugIn), viewNibName_(std::move(viewNibName)) {
  auto layout = PanelLayouts::find(viewNibName_);
  if (!layout) return;
  for (auto& table : layout->tables) addTableView(table.name, table.columns);
  for (auto& control : layout->switches) addSwitch(control.name, control.title, nullptr);
  for (auto& number : layout->numbers) {
    addNumberControl(number.name, number.title, number.settingKey, number.minimum, number.maximum);
  }
}

QCPlugInViewController::~QCPlugInViewController() = default;

size_t QCPlugInViewController::numberOfRowsInTableView(const TableView&) {
  return 0;
}

Value QCPlugInViewController::tableViewObjectValueForTableColumn(const TableView&,
                                                                 const TableColumn&, size_t) {
  return Value();
}

void QCPlugInViewController::tableViewSetObjectValue(const TableView&, const Value&,
                                                     const TableColumn&, size_t) {}

TableView* QCPlugInViewController::tableViewNamed(const std::string& name) const {
  for (const auto& table : tables_) {
    if (table->name() == name) return table.get();
  }
  return nullptr;
}

PanelSwitch* QCPlugInViewController::switchNamed(const std::string& name) const {
  for (const auto& control : switches_) {
    if (control->name() == name) return control.get();
  }
  return nullptr;
}

NumberControl* QCPlugInViewController::numberControlNamed(const std::string& name) const {
  for (const auto& control : numbers_) {
    if (control->name() == name) return control.get();
  }
  return nullptr;
}

TableView& QCPlugInViewController::addTableView(std::string name,
                                                std::vector<TableColumn> columns) {
  tables_.push_back(std::make_unique<TableView>(std::move(name), std::move(columns)));
  return *tables_.back();
}

PanelSwitch& QCPlugInViewController::addSwitch(std::string name, std::string title,
                                               PanelSwitch::Action action) {
  switches_.push_back(
      std::make_unique<PanelSwitch>(std::move(name), std::move(title), std::move(action)));
  return *switches_.back();
}

NumberControl& QCPlugInViewController::addNumberControl(std::string name, std::string title,
                                                        std::string settingKey, uint64_t minimum,
                                                        uint64_t maximum) {
  numbers_.push_back(std::make_unique<NumberControl>(plugIn_, std::move(name), std::move(title),
                                                     std::move(settingKey), minimum, maximum));
  return *numbers_.back();
}

}  // namespace wex
