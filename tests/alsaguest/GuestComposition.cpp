#include "alsaguest/GuestComposition.h"

#include "host/Structure.h"
#include "patches/EndpointSettingsController.h"
#include "patches/WexPatches.h"
#include "support/MainThread.h"

namespace wex::test {

namespace {

// Runs `action` on the main thread for every row of the patch's endpoint
// table, with the row's name (none for a row without a node).
template <class Action>
void forEachRow(Composition& composition, const std::string& patchId, Action action) {
  QCPlugInViewController* panel = composition.openPanel(patchId);
  if (!panel) return;
  performOnMainThreadAndWait([&] {
    const TableView& table = *panel->tableViews().front();
    const auto& nameColumn = *table.columnWithIdentifier(EndpointSettingsController::kNameColumn);
    for (size_t row = 0; row < panel->numberOfRowsInTableView(table); ++row)
      action(*panel, table, row, panel->tableViewObjectValueForTableColumn(table, nameColumn, row));
  });
}

}  // namespace

GuestComposition::GuestComposition() {
  registerWexPatches(registry_);
  composition_ = std::make_unique<Composition>(registry_);
}

GuestComposition::~GuestComposition() {
  // The tick observer reads composition_: the evaluation thread ends first.
  composition_->stop();
  composition_.reset();
}

void GuestComposition::addReceiver() {
  composition_->addPatch(kReceiver, "MIDI_ReceiverPlugIn");
}

void GuestComposition::addSender() {
  composition_->addPatch(kSender, "MIDI_SenderPlugIn");
}

void GuestComposition::start() {
  composition_->setTickObserver([this](double) { collectReceiverOutput(); });
  composition_->start(100);
}

std::vector<std::string> GuestComposition::panelNames(const std::string& patchId) {
  std::vector<std::string> names;
  forEachRow(*composition_, patchId,
             [&](QCPlugInViewController&, const TableView&, size_t, const Value& name) {
               if (name.isString()) names.push_back(name.asString());
             });
  return names;
}

void GuestComposition::enableOnly(const std::string& patchId, const std::set<std::string>& names) {
  forEachRow(
      *composition_, patchId,
      [&](QCPlugInViewController& panel, const TableView& table, size_t row, const Value& name) {
        const bool enabled = name.isString() && names.count(name.asString());
        panel.tableViewSetObjectValue(
            table, Value::index(enabled ? 1 : 0),
            *table.columnWithIdentifier(EndpointSettingsController::kEnableColumn), row);
      });
}

void GuestComposition::closePanel(const std::string& patchId) {
  composition_->closePanel(patchId);
}

void GuestComposition::send(const std::vector<Value>& messages) {
  composition_->setInputValue({kSender, "inputMessages"},
                              Value::structure(Structure::makeList(messages)));
}

std::vector<Value> GuestComposition::received() const {
  std::lock_guard lock(receivedMutex_);
  return received_;
}

void GuestComposition::collectReceiverOutput() {
  auto receiver = composition_->patch(kReceiver);
  if (!receiver) return;
  const auto port = receiver->portTable().port(QCPortDirection::Output, "outputMessages");
  if (!port || port->version == receiverVersion_) return;
  receiverVersion_ = port->version;
  if (!port->value.isStructure()) return;
  std::lock_guard lock(receivedMutex_);
  for (const Value& message : port->value.asStructure()->values()) received_.push_back(message);
}

}  // namespace wex::test
