#include "app/RunCommand.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <iomanip>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "app/CompositionSession.h"
#include "app/InterruptWatch.h"
#include "app/LineReader.h"
#include "app/MidiFilePlayer.h"
#include "app/ProgramContext.h"
#include "app/SessionCommand.h"
#include "host/CompositionFile.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

// The lines on standard output come from the evaluation thread (watched
// outputs) and the main thread (answers to commands): one lock keeps them whole.
class Output {
 public:
  explicit Output(std::ostream& out) : out_(out) {}
  void line(const Json& json) {
    std::lock_guard lock(mutex_);
    out_ << json.dump() << "\n";
    out_.flush();
    if (!out_) closed_ = true;
  }
  // Whether a write failed: nobody reads standard output any more.
  bool closed() const { return closed_; }

 private:
  std::mutex mutex_;
  std::ostream& out_;
  std::atomic<bool> closed_{false};
};

// The watched outputs: "id.port" or "id.*" (every output the patch has at
// the time, added ports included). Prints each assignment once.
class Watcher {
 public:
  Watcher(Composition& composition, Output& output) : composition_(composition), output_(output) {}

  bool add(const std::string& spec, std::string* reason) {
    PortAddress address;
    if (!PortAddress::parse(spec, &address)) {
      *reason = "expected ID.PORT or ID.*, got \"" + spec + "\"";
      return false;
    }
    auto plugIn = composition_.patch(address.patchId);
    if (!plugIn) {
      *reason = "there is no patch \"" + address.patchId + "\"";
      return false;
    }
    if (address.key != "*" && !plugIn->portTable().hasPort(QCPortDirection::Output, address.key)) {
      *reason = "patch \"" + address.patchId + "\" has no output port \"" + address.key + "\"";
      return false;
    }
    watched_.push_back(address);
    return true;
  }

  // On the evaluation thread, after each tick.
  void tick(double time) {
    const double rounded = std::round(time * 1e6) / 1e6;
    for (const auto& address : watched_) {
      auto plugIn = composition_.patch(address.patchId);
      if (!plugIn) continue;
      for (const auto& port : plugIn->portTable().ports(QCPortDirection::Output)) {
        if (address.key != "*" && port.key != address.key) continue;
        const std::string name = address.patchId + "." + port.key;
        uint64_t& seen = seenVersions_[name];
        if (port.version == seen) continue;
        seen = port.version;
        if (port.version == 0) continue;
        output_.line(
            Json{{"time", rounded}, {"port", name}, {"value", ValueJSON::toJSON(port.value)}});
      }
    }
  }

 private:
  Composition& composition_;
  Output& output_;
  std::vector<PortAddress> watched_;
  std::map<std::string, uint64_t> seenVersions_;
};

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
  Output output(context.out());
  Watcher watcher(composition, output);
  for (const auto& spec : watches_) {
    if (!watcher.add(spec, &reason)) {
      context.err() << "wexmidi run: --watch " << spec << ": " << reason << "\n";
      return 2;
    }
  }
  composition.setTickObserver([&watcher](double time) { watcher.tick(time); });

  InterruptWatch interrupts;
  LineReader reader;
  if (context.interactiveInput()) reader.start(context.in());
  SessionCommand commands(*session, [&output](const Json& answer) { output.line(answer); });
  uint64_t lineNumber = 0;

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
    while (!InterruptWatch::interrupted() && Clock::now() < end) {
      auto line = reader.next();
      if (!line) break;
      ++lineNumber;
      if (!commands.performLine(*line, &reason)) {
        context.err() << "wexmidi run: standard input line " << lineNumber << ": " << reason
                      << std::endl;
      }
    }
  }
  if (player) player->stop();
  composition.stop();
  reader.stop();
  composition.setTickObserver(nullptr);
  composition.closeAllPanels();

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
