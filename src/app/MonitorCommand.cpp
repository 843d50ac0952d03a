#include "app/MonitorCommand.h"

#include <chrono>
#include <cmath>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/InterruptWatch.h"
#include "app/ProgramContext.h"
#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Structure.h"
#include "midi/OrvMIDIMessage.h"
#include "patches/MessageValue.h"
#include "patches/WexPatches.h"
#include "server/EndpointChooser.h"
#include "support/MainThread.h"

namespace wex {

namespace {

constexpr const char* kPatchId = "monitor";
constexpr const char* kOutput = "outputMessages";

// Prints the receiver's output whenever the patch assigns it.
class MessagePrinter {
 public:
  MessagePrinter(Composition& composition, std::ostream& out, bool json)
      : composition_(composition), out_(out), json_(json) {}

  // On the evaluation thread, after each tick.
  void tick(double time) {
    auto port = composition_.patch(kPatchId)->portTable().port(QCPortDirection::Output, kOutput);
    if (!port || port->version == seenVersion_) return;
    seenVersion_ = port->version;
    if (!port->value.isStructure()) return;
    for (const Value& value : port->value.asStructure()->values()) print(value, time);
    out_.flush();
  }

 private:
  void print(const Value& value, double time) {
    const auto message = MessageValue::read(value);
    const std::string text =
        message ? message->lengthyDescription().value_or(message->description()) : "";
    const nlohmann::ordered_json valueJson =
        value.isString() ? nlohmann::ordered_json(value.asString())
                         : nlohmann::ordered_json(static_cast<uint64_t>(value.toDouble()));
    if (!json_) {
      out_ << (value.isString() ? value.asString() : valueJson.dump()) << '\t' << text << '\n';
      return;
    }
    nlohmann::ordered_json line = {{"time", std::round(time * 1e6) / 1e6}, {"value", valueJson}};
    if (message) {
      line["type"] = message->type();
      line["channel"] = message->channel();
      if (const auto* sysex = message->sysexArray()) {
        line["sysex"] = *sysex;
      } else {
        line["data1"] = message->data1();
        line["data2"] = message->data2();
      }
    }
    line["text"] = text;
    out_ << line.dump() << '\n';
  }

  Composition& composition_;
  std::ostream& out_;
  bool json_;
  uint64_t seenVersion_ = 0;
};

}  // namespace

CLI::App* MonitorCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "monitor",
      "Print the MIDI messages that arrive from the sources, one line each: the message value, "
      "a tab and its text");
  command
      ->add_option("--source", sources_,
                   "Listen to this source only (repeatable): its exact name, or a part of one "
                   "name in any case; all sources by default")
      ->allow_extra_args(false);
  command->add_flag("--json", json_,
                    "One JSON object per message: time, value, type, channel, data1 and data2 "
                    "(or sysex), text");
  command->add_option("--for", seconds_, "Stop after this many seconds (default: until Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  return command;
}

int MonitorCommand::run(ProgramContext& context) {
  if (!context.startMIDIServices()) return 1;
  PlugInRegistry registry;
  registerWexPatches(registry);
  Composition composition(registry);
  composition.addPatch(kPatchId, "MIDI_ReceiverPlugIn");

  // The receiver's own panel chooses the sources; it stays open, since
  // opening it again would switch every source on.
  QCPlugInViewController* panel = composition.openPanel(kPatchId);
  std::vector<std::string> chosen;
  std::string reason;
  bool ok = false;
  performOnMainThreadAndWait(
      [&] { ok = EndpointChooser::choose(*panel, sources_, "source", &chosen, &reason); });
  if (!ok) {
    context.err() << "wexmidi monitor: " << reason << "\n";
    return 1;
  }
  std::string names;
  for (const auto& name : chosen) names += (names.empty() ? "" : ", ") + name;
  context.err() << "wexmidi monitor: listening to " << (names.empty() ? "no sources" : names)
                << "\n";

  MessagePrinter printer(composition, context.out(), json_);
  composition.setTickObserver([&printer](double time) { printer.tick(time); });
  InterruptWatch interrupts;
  using Clock = std::chrono::steady_clock;
  const auto end = seconds_ < 0 ? Clock::time_point::max()
                                : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds_));
  // Ticks come when messages arrive; the slow rate only keeps the patch
  // evaluated as a provider otherwise would be.
  composition.start(10);
  while (!InterruptWatch::interrupted() && Clock::now() < end) {
    if (isMainThread()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  composition.stop();
  composition.setTickObserver(nullptr);
  composition.closeAllPanels();
  return 0;
}

}  // namespace wex
