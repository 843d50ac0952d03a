#include "app/SendCommand.h"

#include "app/MessageArgument.h"
#include "app/ProgramContext.h"
#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Structure.h"
#include "patches/MessageValue.h"
#include "patches/WexPatches.h"
#include "server/EndpointChooser.h"
#include "services/MIDIServices.h"
#include "support/MainThread.h"

namespace wex {

namespace {

constexpr const char* kPatchId = "send";
constexpr double kDeliveryTimeoutSeconds = 10;

}  // namespace

CLI::App* SendCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "send", "Send message values to the MIDI destinations, in order, and wait until delivered");
  command
      ->add_option("--dest", destinations_,
                   "Send to this destination only (repeatable): its exact name, or a part of "
                   "one name in any case; all destinations by default")
      ->allow_extra_args(false);
  command->add_option("values", values_, MessageArgument::kHelp)->required();
  return command;
}

int SendCommand::run(ProgramContext& context) {
  std::vector<Value> messages;
  for (const auto& argument : values_) {
    std::string reason;
    auto value = MessageArgument::value(argument, reason);
    if (value && !MessageValue::read(*value, &reason)) value.reset();
    if (!value) {
      context.err() << "wexmidi send: \"" << argument << "\" yields no message: " << reason << "\n";
      return 2;
    }
    messages.push_back(*value);
  }
  auto services = context.startMIDIServices();
  if (!services) return 1;
  PlugInRegistry registry;
  registerWexPatches(registry);
  Composition composition(registry);
  composition.addPatch(kPatchId, "MIDI_SenderPlugIn");

  std::vector<std::string> chosen;
  std::string reason;
  bool ok = false;
  performOnMainThreadAndWait([&] {
    ok = EndpointChooser::choose(*composition.openPanel(kPatchId), destinations_, "destination",
                                 &chosen, &reason);
  });
  if (!ok) {
    context.err() << "wexmidi send: " << reason << "\n";
    return 1;
  }
  if (chosen.empty()) {
    context.err() << "wexmidi send: there are no MIDI destinations\n";
    return 1;
  }
  composition.setInputValue(PortAddress{kPatchId, "inputMessages"},
                            Value::structure(Structure::makeList(messages)));
  composition.evaluate(0);
  if (!services->waitUntilDelivered(kDeliveryTimeoutSeconds)) {
    context.err() << "wexmidi send: the messages were not delivered within "
                  << kDeliveryTimeoutSeconds << " seconds\n";
    return 1;
  }
  std::string names;
  for (const auto& name : chosen) names += (names.empty() ? "" : ", ") + name;
  context.err() << "wexmidi send: sent " << messages.size()
                << (messages.size() == 1 ? " message" : " messages") << " to " << names << "\n";
  composition.closeAllPanels();
  return 0;
}

}  // namespace wex
