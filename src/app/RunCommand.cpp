#include "app/RunCommand.h"

#include <chrono>
#include <cmath>
#include <iomanip>
#include <sstream>
#include <thread>

#include "app/CommandInput.h"
#include "app/CompositionSession.h"
#include "app/InterruptWatch.h"
#include "app/MidiFilePlayer.h"
#include "app/PortWatcher.h"
#include "app/ProgramContext.h"
#include "host/CompositionFile.h"
#include "patches/MIDI_SenderPlugIn.h"
#include "support/MainThread.h"

namespace wex {

namespace {

// Says, when the run ends, how many messages each sender could not send; the
// log said why, once per cause.
void reportUnsent(Composition& composition, std::ostream& err) {
  for (const auto& id : composition.patchIds()) {
    const auto* sender = dynamic_cast<const MIDI_SenderPlugIn*>(composition.patch(id).get());
    if (!sender || sender->unsentMessages() == 0) continue;
    const uint64_t count = sender->unsentMessages();
    err << "wexmidi run: sender \"" << id << "\" could not send " << count
        << (count == 1 ? " message" : " messages") << " (the log above says why)\n";
  }
}

}  // namespace

// Refused with the bounds, never with a long rendering of the number given.
CLI::Validator RunCommand::finiteRange(double low, double high, const std::string& what) {
  return CLI::Validator(
      [=](std::string& text) -> std::string {
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        const bool number = !text.empty() && end == text.c_str() + text.size();
        if (number && std::isfinite(value) && value >= low && value <= high) return "";
        std::ostringstream bounds;
        bounds << std::setprecision(12);
        bounds << low << " to " << high;
        return "expected " + what + " from " + bounds.str();
      },
      "NUMBER");
}

CLI::App* RunCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand("run", "Run a composition file");
  command->add_option("FILE", file_, "The composition file")->required();
  command->add_option("--for", seconds_, "Stop after this many seconds (default: until Ctrl-C)")
      ->check(finiteRange(0, kMaxSeconds, "a number of seconds"));
  command->add_option("--rate", rate_, "Evaluations per second (default 60)")
      ->check(finiteRange(0.001, 10000.0, "a number of evaluations per second"));
  command->add_option("--set", sets_, "Set an input first: ID.PORT=VALUE (VALUE in JSON)");
  command->add_option("--watch", watches_, "Print each assignment of ID.PORT, or of ID.*");
  command->add_option("--save", saveFile_, "Write the composition, settings included, at the end")
      ->check(CLI::Validator(
          [](std::string& text) { return text.empty() ? "expected a file name" : ""; }, "FILE"));
  command->add_option("--play", playFile_,
                      "Play this Standard MIDI File in real time from the source \"wexmidi "
                      "Player\"; the run ends after its last event unless --for is given");
  command->add_flag("--lenient", lenient_,
                    "Play what can be read of a damaged MIDI file (each damage is reported)");
  return command;
}

int RunCommand::run(ProgramContext& context) {
  // The player's source exists before the composition's receivers list theirs.
  std::unique_ptr<MidiFilePlayer> player;
  if (!playFile_.empty()) {
    std::string problem;
    std::vector<std::string> warnings;
    player = MidiFilePlayer::load(playFile_, lenient_, &problem, &warnings);
    if (!player) {
      context.err() << "wexmidi run: --play " << problem << "\n";
      return 1;
    }
    for (const auto& warning : warnings) context.err() << "wexmidi run: --play " << warning << "\n";
    if (!context.startMIDIServices()) return 1;
    if (!player->publish(&problem)) {
      context.err() << "wexmidi run: --play: " << problem << "\n";
      return 1;
    }
  }
  auto session = CompositionSession::open(context, "run", file_);
  if (!session) return 1;
  Composition& composition = session->composition();
  std::string reason;
  for (const auto& assignment : sets_) {
    if (!session->applySetting(assignment, &reason)) {
      context.err() << "wexmidi run: --set " << assignment << ": " << reason << "\n";
      return 2;
    }
  }
  JsonLineOutput output(context.out());
  PortWatcher watcher(composition, output);
  for (const auto& spec : watches_) {
    if (!watcher.add(spec, &reason)) {
      context.err() << "wexmidi run: --watch " << spec << ": " << reason << "\n";
      return 2;
    }
  }
  composition.setTickObserver([&watcher](double time) { watcher.tick(time); });

  InterruptWatch interrupts;
  // Standard input edits what the run shows; the page's structure edits are serve's.
  CompositionCommands::Options scope;
  scope.editsStructure = false;
  CompositionCommands commands(composition, scope);
  CommandInput input(context, "run", commands, output);
  input.start();

  using Clock = std::chrono::steady_clock;
  const auto end = seconds_ < 0 ? Clock::time_point::max()
                                : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds_));
  composition.start(rate_);
  if (player) player->start();
  // After the last event, a moment for the composition to take it in.
  const auto settle = std::chrono::milliseconds(250);
  auto playedAt = Clock::time_point::max();
  while (!InterruptWatch::interrupted() && !output.closed() && Clock::now() < end) {
    if (player && seconds_ < 0 && player->finished()) {
      if (playedAt == Clock::time_point::max()) playedAt = Clock::now();
      if (Clock::now() - playedAt >= settle) break;
    }
    if (isMainThread()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // A stream of lines does not hold off the end of the run or Ctrl-C.
    input.performWaiting([&] { return InterruptWatch::interrupted() || Clock::now() >= end; });
  }
  if (player) player->stop();
  composition.stop();
  input.stop();
  composition.setTickObserver(nullptr);
  composition.closeAllPanels();
  reportUnsent(composition, context.err());

  if (!saveFile_.empty()) {
    try {
      CompositionFile::save(composition, saveFile_);
    } catch (const CompositionFileError& error) {
      context.err() << "wexmidi run: " << error.what() << "\n";
      return 1;
    }
  }
  return 0;
}

}  // namespace wex
