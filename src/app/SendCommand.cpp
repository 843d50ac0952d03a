#include "app/SendCommand.h"

#include "app/ProgramContext.h"
#include "app/SendArguments.h"
#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Structure.h"
#include "host/ValueJSON.h"
#include "patches/MIDI_SenderPlugIn.h"
#include "patches/MessageArgument.h"
#include "patches/MessageValue.h"
#include "patches/WexPatches.h"
#include "server/EndpointChooser.h"
#include "services/MIDIServices.h"
#include "services/MIDIStatus.h"
#include "support/MainThread.h"

namespace wex {

namespace {

constexpr const char* kPatchId = "send";
constexpr double kDeliveryTimeoutSeconds = 10;

std::vector<uint64_t> unsentCounts(MIDI_SenderPlugIn& sender) {
  std::vector<uint64_t> counts;
  for (const auto& node : sender.midiManager().destArray().readLocked()) {
    counts.push_back(node->unsentCount());
  }
  return counts;
}

// The destinations whose node failed to send since `before`, with why.
std::vector<std::pair<std::string, std::string>> newlyUnsent(MIDI_SenderPlugIn& sender,
                                                             const std::vector<uint64_t>& before) {
  std::vector<std::pair<std::string, std::string>> found;
  const auto list = sender.midiManager().destArray().readLocked();
  for (size_t i = 0; i < list.array().size() && i < before.size(); ++i) {
    const auto& node = list.array()[i];
    if (node->unsentCount() != before[i]) {
      found.emplace_back("\"" + node->name().value_or("") + "\"", node->lastUnsentReason());
    }
  }
  return found;
}

// The embedded services' loopback passes what it gets back into this very
// program, which does not listen: asked for with --midi embedded, that is
// what was wanted; taken because no other MIDI services were there, the
// messages reached no one, which a script must be able to tell.
int reportSent(ProgramContext& context, size_t count, const std::vector<std::string>& chosen) {
  std::string names;
  for (const auto& name : chosen) names += (names.empty() ? "" : ", ") + name;
  const char* const noun = count == 1 ? " message" : " messages";
  if (context.servicesName() != "embedded") {
    context.err() << "wexmidi send: sent " << count << noun << " to " << names << "\n";
    return 0;
  }
  if (context.midiChoice() == "embedded") {
    context.err() << "wexmidi send: sent " << count << noun << " to " << names
                  << ", inside this program: nothing outside it hears them\n";
    return 0;
  }
  context.err() << "wexmidi send: not sent to any other program: " << count << noun << " went to "
                << names << " only, inside this program, where nothing outside it hears them\n";
  return 1;
}

}  // namespace

CLI::App* SendCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "send",
      "Send messages to the MIDI destinations, in the order given, and wait until delivered; "
      "nothing is sent when any argument is refused");
  command
      ->add_option("--dest", destinations_,
                   "Send to this destination only (repeatable): its exact name, or a part of "
                   "one name in any case (with --midi alsa also client:port, or a client's "
                   "name); all destinations by default")
      ->allow_extra_args(false);
  hexOption_ = command
                   ->add_option("--hex", hexes_,
                                "Hex bytes as decode reads them (\"90 3C 64 F0 01 02 F7\"; / and "
                                "// are ignored), sent in their place among the others")
                   ->allow_extra_args(false);
  fileOption_ = command
                    ->add_option("--file", files_,
                                 "A file of raw MIDI bytes, such as one or more sysex messages "
                                 "(.syx), sent in its place among the others")
                    ->allow_extra_args(false);
  valuesOption_ = command->add_option(
      "values", values_, std::string(MessageArgument::kHelp) + "; " + SendArguments::kWordsHelp);
  command_ = command;
  return command;
}

int SendCommand::run(ProgramContext& context) {
  // The arguments in the order given, options and values mixed.
  std::vector<SendArguments::Argument> arguments;
  size_t hexes = 0, files = 0, values = 0;
  for (const CLI::Option* option : command_->parse_order()) {
    if (option == hexOption_ && hexes < hexes_.size()) {
      arguments.push_back({SendArguments::Kind::Hex, hexes_[hexes++]});
    } else if (option == fileOption_ && files < files_.size()) {
      arguments.push_back({SendArguments::Kind::File, files_[files++]});
    } else if (option == valuesOption_ && values < values_.size()) {
      arguments.push_back({SendArguments::Kind::Plain, values_[values++]});
    }
  }
  if (arguments.empty()) {
    context.err() << "wexmidi send: give the messages to send (wexmidi send --help)\n";
    return 2;
  }
  const SendArguments read(arguments);
  if (!read.refusals().empty()) {
    for (const auto& refusal : read.refusals())
      context.err() << "wexmidi send: " << refusal << "\n";
    context.err() << "wexmidi send: nothing was sent\n";
    return 2;
  }
  const std::vector<Value>& messages = read.messages();
  auto services = context.startMIDIServices();
  if (!services) return 1;
  PlugInRegistry registry;
  registerWexPatches(registry);
  Composition composition(registry);
  composition.addPatch(kPatchId, "MIDI_SenderPlugIn");

  std::vector<std::string> chosen;
  std::string reason;
  bool ok = false;
  const auto wanted = context.endpointNames(destinations_, false);
  performOnMainThreadAndWait([&] {
    ok = EndpointChooser::choose(*composition.openPanel(kPatchId), wanted, "destination", &chosen,
                                 &reason);
  });
  if (!ok) {
    context.err() << "wexmidi send: " << reason << "\n";
    return 1;
  }
  if (chosen.empty()) {
    context.err() << "wexmidi send: there are no MIDI destinations\n";
    return 1;
  }
  // One evaluation per message, so that a message that could not be sent is
  // known by name. A sysex too long for one packet list goes to the
  // destinations' nodes in pieces instead, which the patch never does.
  auto& sender = dynamic_cast<MIDI_SenderPlugIn&>(*composition.patch(kPatchId));
  composition.setInputValue(PortAddress{kPatchId, "inputResend"}, Value::boolean(true));
  std::vector<std::string> unsent;
  for (size_t i = 0; i < messages.size(); ++i) {
    const auto before = unsentCounts(sender);
    if (const auto longSysex = MessageValue::readLongSysex(messages[i])) {
      for (const auto& node : sender.midiManager().destArray().readLocked()) {
        node->sendMsgInPieces(longSysex);
      }
    } else {
      composition.setInputValue(PortAddress{kPatchId, "inputMessages"},
                                Value::structure(Structure::makeList({messages[i]})));
      composition.evaluate(static_cast<double>(i));
    }
    for (const auto& [name, why] : newlyUnsent(sender, before)) {
      // Named by its value: it may come from --hex or --file rather than a value argument.
      unsent.push_back(ValueJSON::toJSON(messages[i]).dump() + " to " + name + ": " + why);
    }
  }
  // `send` sends what it is given and no more: a note it turned on stays on,
  // where a sender patch going away would turn it off.
  for (const auto& node : sender.midiManager().destArray().readLocked()) node->takeSoundingNotes();
  if (!unsent.empty()) {
    for (const auto& line : unsent) context.err() << "wexmidi send: not sent: " << line << "\n";
    services->waitUntilDelivered(kDeliveryTimeoutSeconds);
    composition.closeAllPanels();
    return 1;
  }
  const bool delivered = services->waitUntilDelivered(kDeliveryTimeoutSeconds);
  composition.closeAllPanels();
  if (services->serverLosses() > 0) {
    context.err() << "wexmidi send: the " << (context.servicesName() == "jack" ? "JACK" : "MIDI")
                  << " server went away before delivery could be confirmed: some or all of the "
                     "messages may be lost\n";
    return 1;
  }
  if (!delivered) {
    context.err() << "wexmidi send: the messages were not delivered within "
                  << kDeliveryTimeoutSeconds << " seconds\n";
    return 1;
  }
  return reportSent(context, messages.size(), chosen);
}

}  // namespace wex
