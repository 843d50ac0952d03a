#include "jack/JackCompositionDriver.h"

#include "host/Structure.h"
#include "patches/EndpointSettingsController.h"
#include "patches/WexPatches.h"
#include "support/MainThread.h"

namespace wex::test {

namespace {

constexpr double kTicksPerSecond = 100;

// Runs `action` on the main thread with the patch's panel (opened if need be)
// and its endpoint table.
template <class Action>
void withPanel(Composition& composition, const std::string& patchId, Action action) {
  QCPlugInViewController* panel = composition.openPanel(patchId);
  if (!panel) return;
  performOnMainThreadAndWait([&] { action(*panel, *panel->tableViews().front()); });
}

Value nameOf(QCPlugInViewController& panel, const TableView& table, size_t row) {
  return panel.tableViewObjectValueForTableColumn(
      table, *table.columnWithIdentifier(EndpointSettingsController::kNameColumn), row);
}

void tick(QCPlugInViewController& panel, const TableView& table, size_t row, bool enabled) {
  panel.tableViewSetObjectValue(
      table, Value::index(enabled ? 1 : 0),
      *table.columnWithIdentifier(EndpointSettingsController::kEnableColumn), row);
}

}  // namespace

JackCompositionDriver::JackCompositionDriver() {
  registerWexPatches(registry_);
  composition_ = std::make_unique<Composition>(registry_);
}

JackCompositionDriver::~JackCompositionDriver() {
  // The evaluation thread's observer reads composition_: end that thread
  // before the composition goes (which closes the panels, then the patches).
  composition_->stop();
  composition_.reset();
}

void JackCompositionDriver::addReceiver() {
  composition_->addPatch(kReceiver, "MIDI_ReceiverPlugIn");
}

void JackCompositionDriver::addSender() {
  composition_->addPatch(kSender, "MIDI_SenderPlugIn");
}

void JackCompositionDriver::start() {
  composition_->setTickObserver([this](double) { collectReceiverOutput(); });
  composition_->start(kTicksPerSecond);
}

std::vector<std::string> JackCompositionDriver::panelNames(const std::string& patchId) {
  std::vector<std::string> names;
  withPanel(*composition_, patchId, [&](QCPlugInViewController& panel, const TableView& table) {
    for (size_t row = 0; row < panel.numberOfRowsInTableView(table); ++row) {
      const Value name = nameOf(panel, table, row);
      if (name.isString()) names.push_back(name.asString());
    }
  });
  return names;
}

void JackCompositionDriver::enableOnly(const std::string& patchId,
                                       const std::set<std::string>& names) {
  withPanel(*composition_, patchId, [&](QCPlugInViewController& panel, const TableView& table) {
    for (size_t row = 0; row < panel.numberOfRowsInTableView(table); ++row) {
      const Value name = nameOf(panel, table, row);
      tick(panel, table, row, name.isString() && names.count(name.asString()));
    }
  });
}

void JackCompositionDriver::setEnabled(const std::string& patchId, const std::string& name,
                                       bool enabled) {
  withPanel(*composition_, patchId, [&](QCPlugInViewController& panel, const TableView& table) {
    for (size_t row = 0; row < panel.numberOfRowsInTableView(table); ++row) {
      if (nameOf(panel, table, row) == Value::string(name)) tick(panel, table, row, enabled);
    }
  });
}

void JackCompositionDriver::closePanel(const std::string& patchId) {
  composition_->closePanel(patchId);
}

void JackCompositionDriver::send(const std::vector<Value>& messages, bool resend) {
  // "Resend" goes first: once it is off, the old messages are never sent
  // again after the new ones.
  setResend(resend);
  composition_->setInputValue({kSender, "inputMessages"},
                              Value::structure(Structure::makeList(messages)));
}

void JackCompositionDriver::setResend(bool resend) {
  composition_->setInputValue({kSender, "inputResend"}, Value::boolean(resend));
}

std::vector<Value> JackCompositionDriver::received() const {
  std::lock_guard lock(receivedMutex_);
  return received_;
}

size_t JackCompositionDriver::receivedCount() const {
  std::lock_guard lock(receivedMutex_);
  return received_.size();
}

void JackCompositionDriver::clearReceived() {
  std::lock_guard lock(receivedMutex_);
  received_.clear();
}

void JackCompositionDriver::collectReceiverOutput() {
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
