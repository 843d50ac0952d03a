#include "shared/CompositionDriver.h"

#include <algorithm>

#include "host/Structure.h"
#include "host/ValueJSON.h"
#include "patches/EndpointSettingsController.h"
#include "patches/WexPatches.h"
#include "support/MainThread.h"

namespace wex {

void PrintTo(const Value& value, std::ostream* out) {
  *out << ValueJSON::toJSON(value).dump();
}

}  // namespace wex

namespace wex::test {

Value messageNumber(unsigned status, unsigned data1, unsigned data2) {
  return Value::number(status << 16 | data1 << 8 | data2);
}

Bytes sysexOfLength(size_t length) {
  Bytes sysex{0xF0};
  while (sysex.size() < length - 1) sysex.push_back(static_cast<Byte>(sysex.size() * 7 & 0x7F));
  sysex.push_back(0xF7);
  return sysex;
}

Value sysexString(const Bytes& sysex) {
  std::string text;
  for (size_t i = 1; i + 1 < sysex.size(); ++i) {
    if (i > 1) text += ',';
    text += std::to_string(sysex[i]);
  }
  return Value::string(text);
}

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

CompositionDriver::CompositionDriver(std::shared_ptr<MIDIServices> services) {
  installMIDIServices(std::move(services));
  registerWexPatches(registry_);
  composition_ = std::make_unique<Composition>(registry_);
}

CompositionDriver::~CompositionDriver() {
  // The evaluation thread's observer reads composition_: end that thread
  // before the composition goes (which closes the panels, then the patches,
  // and with them their clients of the services).
  composition_->stop();
  composition_.reset();
  installMIDIServices(nullptr);
}

void CompositionDriver::addReceiver() {
  composition_->addPatch(kReceiver, "MIDI_ReceiverPlugIn");
}

void CompositionDriver::addSender() {
  composition_->addPatch(kSender, "MIDI_SenderPlugIn");
}

void CompositionDriver::start() {
  composition_->setTickObserver([this](double) { collectReceiverOutput(); });
  composition_->start(kTicksPerSecond);
}

std::vector<std::string> CompositionDriver::panelNames(const std::string& patchId) {
  std::vector<std::string> names;
  withPanel(*composition_, patchId, [&](QCPlugInViewController& panel, const TableView& table) {
    for (size_t row = 0; row < panel.numberOfRowsInTableView(table); ++row) {
      const Value name = nameOf(panel, table, row);
      if (name.isString()) names.push_back(name.asString());
    }
  });
  return names;
}

bool CompositionDriver::panelLists(const std::string& patchId, const std::string& name) {
  const std::vector<std::string> names = panelNames(patchId);
  return std::find(names.begin(), names.end(), name) != names.end();
}

void CompositionDriver::enableOnly(const std::string& patchId, const std::set<std::string>& names) {
  withPanel(*composition_, patchId, [&](QCPlugInViewController& panel, const TableView& table) {
    for (size_t row = 0; row < panel.numberOfRowsInTableView(table); ++row) {
      const Value name = nameOf(panel, table, row);
      tick(panel, table, row, name.isString() && names.count(name.asString()));
    }
  });
}

void CompositionDriver::setEnabled(const std::string& patchId, const std::string& name,
                                   bool enabled) {
  withPanel(*composition_, patchId, [&](QCPlugInViewController& panel, const TableView& table) {
    for (size_t row = 0; row < panel.numberOfRowsInTableView(table); ++row) {
      if (nameOf(panel, table, row) == Value::string(name)) tick(panel, table, row, enabled);
    }
  });
}

void CompositionDriver::closePanel(const std::string& patchId) {
  composition_->closePanel(patchId);
}

void CompositionDriver::send(const std::vector<Value>& messages, bool resend) {
  // "Resend" goes first: once it is off, the old messages are never sent
  // again after the new ones.
  setResend(resend);
  composition_->setInputValue({kSender, "inputMessages"},
                              Value::structure(Structure::makeList(messages)));
}

void CompositionDriver::setResend(bool resend) {
  composition_->setInputValue({kSender, "inputResend"}, Value::boolean(resend));
}

std::vector<Value> CompositionDriver::received() const {
  std::lock_guard lock(receivedMutex_);
  return received_;
}

size_t CompositionDriver::receivedCount() const {
  std::lock_guard lock(receivedMutex_);
  return received_.size();
}

void CompositionDriver::clearReceived() {
  std::lock_guard lock(receivedMutex_);
  received_.clear();
}

void CompositionDriver::collectReceiverOutput() {
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
