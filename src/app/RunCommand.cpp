#include "app/RunCommand.h"

#include <chrono>
#include <thread>

#include "app/CommandInput.h"
#include "app/CompositionSession.h"
#include "app/InterruptWatch.h"
#include "app/OscBridge.h"
#include "app/PortWatcher.h"
#include "app/ProgramContext.h"
#include "midiio/MIDIFilePlayer.h"
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

CLI::App* RunCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand("run", "Run a composition file");
  command->add_option("FILE", file_, "The composition file")->required();
  options_.add(command,
               "Play this Standard MIDI File in real time from the source \"wexmidi "
               "Player\"; the run ends after its last event unless --for is given");
  return command;
}

int RunCommand::run(ProgramContext& context) {
  std::unique_ptr<MIDIFilePlayer> player;
  if (!options_.preparePlayer(context, &player)) return 1;
  auto session = CompositionSession::open(context, "run", file_);
  if (!session) return 1;
  Composition& composition = session->composition();
  JsonLineOutput output(context.out());
  PortWatcher watcher(composition, PortWatcher::jsonLines(output));
  if (const int status = options_.applySetsAndWatches(context, *session, watcher)) return status;
  OscBridge osc(composition, "run");
  if (const int status = osc.start(context, options_.osc(), nullptr)) return status;
  composition.setTickObserver([&watcher, &osc](double time) {
    watcher.tick(time);
    osc.tick(time);
  });

  InterruptWatch interrupts;
  // Standard input edits what the run shows; the page's structure edits are serve's.
  CompositionCommands::Options scope;
  scope.editsStructure = false;
  CompositionCommands commands(composition, scope);
  CommandInput input(context, "run", commands, output);
  input.start();

  using Clock = std::chrono::steady_clock;
  const auto end = options_.endTime();
  composition.start(options_.rate());
  if (player) player->start();
  // After the last event, a moment for the composition to take it in.
  const auto settle = std::chrono::milliseconds(250);
  auto playedAt = Clock::time_point::max();
  while (!InterruptWatch::interrupted() && !output.closed() && !context.outputReaderGone() &&
         Clock::now() < end) {
    if (player && options_.runsUntilInterrupted() && player->finished()) {
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
    osc.performWaiting();
  }
  if (player) player->stop();
  composition.stop();
  input.stop();
  composition.setTickObserver(nullptr);
  osc.stop(context);
  composition.closeAllPanels();
  reportUnsent(composition, context.err());
  const int played = options_.reportUnplayed(context, player.get());

  const int saved = options_.saveAtEnd(context, composition);
  return saved != 0 ? saved : played;
}

}  // namespace wex
