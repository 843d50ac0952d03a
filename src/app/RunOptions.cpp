#include "app/RunOptions.h"

#include <cmath>
#include <iomanip>
#include <sstream>

#include "app/CompositionSession.h"
#include "app/PortWatcher.h"
#include "app/ProgramContext.h"
#include "host/CompositionFile.h"
#include "midiio/MIDIFilePlayer.h"

namespace wex {

CLI::Validator RunOptions::finiteRange(double low, double high, const std::string& what) {
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

void RunOptions::add(CLI::App* command, const std::string& playHelp) {
  command->add_option("--for", seconds_, "Stop after this many seconds (default: until Ctrl-C)")
      ->check(finiteRange(0, kMaxSeconds, "a number of seconds"));
  command->add_option("--rate", rate_, "Evaluations per second (default 60)")
      ->check(finiteRange(0.001, 10000.0, "a number of evaluations per second"));
  command->add_option("--set", sets_, "Set an input first: ID.PORT=VALUE (VALUE in JSON)");
  command->add_option("--watch", watches_, "Print each assignment of ID.PORT, or of ID.*");
  const CLI::Validator fileName(
      [](std::string& text) { return text.empty() ? "expected a file name" : ""; }, "FILE");
  command->add_option("--save", saveFile_, "Write the composition, settings included, at the end")
      ->check(fileName);
  command->add_option("--play", playFile_, playHelp)->check(fileName);
  command->add_flag("--lenient", lenient_,
                    "Play what can be read of a damaged MIDI file (each damage is reported)");
  command
      ->add_option("--osc-out", osc_.targets,
                   "Send each change of a watched output as OSC to HOST:PORT over UDP, or to "
                   "osc.tcp://HOST:PORT over TCP (repeatable): /wexmidi/PATCH/PORT with "
                   "booleans as T or F, indexes as i (h beyond 32 bits), numbers as f (d where "
                   "a float would change them), text as s, MIDI messages as m and system "
                   "exclusive as a blob, a structure as its items; one bundle per evaluation")
      ->type_name("HOST:PORT");
  command
      ->add_option("--osc-watch", osc_.watches,
                   "The outputs --osc-out sends, ID.PORT or ID.* as for --watch (default: "
                   "every output of every patch)")
      ->type_name("ID.PORT");
  command
      ->add_option("--osc-in", osc_.listen,
                   "Take OSC over UDP on PORT (on 127.0.0.1) or HOST:PORT: /wexmidi/PATCH/PORT "
                   "ARGS sets an input as --set does (several arguments make a list), "
                   "/wexmidi/send with MIDI (m) or blob arguments sends them as `send` does")
      ->type_name("[HOST:]PORT");
}

bool RunOptions::preparePlayer(ProgramContext& context,
                               std::unique_ptr<MIDIFilePlayer>* player) const {
  if (playFile_.empty()) return true;
  std::string problem;
  std::vector<std::string> warnings;
  *player = MIDIFilePlayer::load(playFile_, lenient_, &problem, &warnings);
  if (!*player) {
    context.err() << "wexmidi " << command_ << ": --play " << problem << "\n";
    return false;
  }
  for (const auto& warning : warnings) {
    context.err() << "wexmidi " << command_ << ": --play " << warning << "\n";
  }
  if (!context.startMIDIServices()) return false;
  if (!(*player)->publish(&problem)) {
    context.err() << "wexmidi " << command_ << ": --play: " << problem << "\n";
    return false;
  }
  return true;
}

int RunOptions::applySetsAndWatches(ProgramContext& context, CompositionSession& session,
                                    PortWatcher& watcher) const {
  std::string reason;
  for (const auto& assignment : sets_) {
    if (!session.applySetting(assignment, &reason)) {
      context.err() << "wexmidi " << command_ << ": --set " << assignment << ": " << reason << "\n";
      return 2;
    }
  }
  for (const auto& spec : watches_) {
    if (!watcher.add(spec, &reason)) {
      context.err() << "wexmidi " << command_ << ": --watch " << spec << ": " << reason << "\n";
      return 2;
    }
  }
  return 0;
}

std::chrono::steady_clock::time_point RunOptions::endTime() const {
  using Clock = std::chrono::steady_clock;
  if (seconds_ < 0) return Clock::time_point::max();
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds_));
}

int RunOptions::reportUnplayed(ProgramContext& context, const MIDIFilePlayer* player) const {
  if (!player || player->unplayedEvents() == 0) return 0;
  const uint64_t count = player->unplayedEvents();
  context.err() << "wexmidi " << command_ << ": --play: " << count
                << (count == 1 ? " event" : " events")
                << " could not be played: the MIDI services refused them (first status "
                << player->firstFailureStatus() << ")\n";
  return 1;
}

int RunOptions::saveAtEnd(ProgramContext& context, Composition& composition) const {
  if (saveFile_.empty()) return 0;
  try {
    CompositionFile::save(composition, saveFile_);
  } catch (const CompositionFileError& error) {
    context.err() << "wexmidi " << command_ << ": " << error.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace wex
