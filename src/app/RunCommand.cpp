#include "app/RunCommand.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <map>
#include <mutex>
#include <thread>

#include "app/CompositionSession.h"
#include "app/LineReader.h"
#include "app/MidiFilePlayer.h"
#include "app/ProgramContext.h"
#include "host/CompositionFile.h"
#include "server/PanelView.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Json = ValueJSON::Json;

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
  interrupted = true;
}

// Ctrl-C (and a polite kill) end the run; the previous handlers come back
// when the run is over.
class InterruptGuard {
 public:
  InterruptGuard() {
    interrupted = false;
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &previousInt_);
    sigaction(SIGTERM, &action, &previousTerm_);
  }
  ~InterruptGuard() {
    sigaction(SIGINT, &previousInt_, nullptr);
    sigaction(SIGTERM, &previousTerm_, nullptr);
  }

 private:
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
};

// The lines on standard output come from the evaluation thread (watched
// outputs) and the main thread (answers to commands): one lock keeps them whole.
class Output {
 public:
  explicit Output(std::ostream& out) : out_(out) {}
  void line(const Json& json) {
    std::lock_guard lock(mutex_);
    out_ << json.dump() << "\n";
    out_.flush();
  }

 private:
  std::mutex mutex_;
  std::ostream& out_;
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

// The JSON-line commands read while running.
class CommandHandler {
 public:
  CommandHandler(CompositionSession& session, Output& output, std::ostream& err)
      : session_(session), output_(output), err_(err) {}

  void handle(const std::string& line) {
    if (line.find_first_not_of(" \t") == std::string::npos) return;
    Json command = Json::parse(line, nullptr, false);
    if (command.is_discarded() || !command.is_object()) {
      fail("expected a JSON object per line, got: " + line);
      return;
    }
    std::string reason;
    bool done;
    if (command.contains("set")) {
      done = set(command, &reason);
    } else if (command.contains("panel")) {
      performOnMainThreadAndWait([&] { done = panel(command, &reason); });
    } else if (command.contains("save")) {
      done = save(command, &reason);
    } else {
      done = false;
      reason = "unknown command (set, panel or save): " + line;
    }
    if (!done) fail(reason);
  }

 private:
  void fail(const std::string& reason) { err_ << "wexmidi run: " << reason << std::endl; }

  static bool text(const Json& command, const char* key, std::string* out, std::string* reason) {
    if (!command.contains(key) || !command[key].is_string()) {
      *reason = std::string("\"") + key + "\" must be a string";
      return false;
    }
    *out = command[key].get<std::string>();
    return true;
  }

  static bool row(const Json& command, const char* key, uint64_t* out, std::string* reason) {
    if (!command[key].is_number_unsigned()) {
      *reason = std::string("\"") + key + "\" must be a row number";
      return false;
    }
    *out = command[key].get<uint64_t>();
    return true;
  }

  bool set(const Json& command, std::string* reason) {
    std::string address;
    if (!text(command, "set", &address, reason)) return false;
    if (!command.contains("value")) {
      *reason = "\"set\" needs a \"value\"";
      return false;
    }
    return session_.setInput(address, command["value"], reason);
  }

  bool panel(const Json& command, std::string* reason) {
    std::string id;
    if (!text(command, "panel", &id, reason)) return false;
    Composition& composition = session_.composition();
    if (command.value("close", false)) {
      composition.closePanel(id);
      output_.line(Json{{"closed", id}});
      return true;
    }
    QCPlugInViewController* controller = composition.openPanel(id);
    if (!controller) {
      *reason = composition.patch(id) ? "patch \"" + id + "\" has no settings panel"
                                      : "there is no patch \"" + id + "\"";
      return false;
    }
    if (!edit(*controller, command, reason)) return false;
    output_.line(Json{{"panel", PanelView::describe(*controller, id)}});
    return true;
  }

  bool edit(QCPlugInViewController& controller, const Json& command, std::string* reason) {
    uint64_t number = 0;
    if (command.contains("tick")) {
      return row(command, "tick", &number, reason) &&
             PanelView::tick(controller, number, true, reason);
    }
    if (command.contains("untick")) {
      return row(command, "untick", &number, reason) &&
             PanelView::tick(controller, number, false, reason);
    }
    if (command.contains("switch")) {
      std::string name;
      if (!text(command, "switch", &name, reason)) return false;
      const Json state = command.value("state", Json());
      bool on = false;
      if (state.is_boolean()) {
        on = state.get<bool>();
      } else if (!state.is_string() || !PanelView::parseState(state.get<std::string>(), &on)) {
        *reason = "\"state\" must be \"on\" or \"off\"";
        return false;
      }
      return PanelView::setSwitch(controller, name, on, reason);
    }
    if (command.contains("number")) {
      std::string name;
      if (!text(command, "number", &name, reason)) return false;
      if (!command.value("value", Json()).is_number_unsigned()) {
        *reason = "\"value\" must be an unsigned integer";
        return false;
      }
      return PanelView::setNumber(controller, name, command["value"].get<uint64_t>(), reason);
    }
    return true;
  }

  bool save(const Json& command, std::string* reason) {
    std::string path;
    if (!text(command, "save", &path, reason)) return false;
    try {
      CompositionFile::save(session_.composition(), path);
    } catch (const CompositionFileError& error) {
      *reason = error.what();
      return false;
    }
    output_.line(Json{{"saved", path}});
    return true;
  }

  CompositionSession& session_;
  Output& output_;
  std::ostream& err_;
};

}  // namespace

CLI::App* RunCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand("run", "Run a composition file");
  command->add_option("FILE", file_, "The composition file")->required();
  command->add_option("--for", seconds_, "Stop after this many seconds (default: until Ctrl-C)")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--rate", rate_, "Evaluations per second (default 60)")
      ->check(CLI::Range(0.001, 10000.0));
  command->add_option("--set", sets_, "Set an input first: ID.PORT=VALUE (VALUE in JSON)");
  command->add_option("--watch", watches_, "Print each assignment of ID.PORT, or of ID.*");
  command->add_option("--save", saveFile_, "Write the composition, settings included, at the end");
  command->add_option("--play", playFile_,
                      "Play this Standard MIDI File in real time from the source \"wexmidi "
                      "Player\"; the run ends after its last event unless --for is given");
  return command;
}

int RunCommand::run(ProgramContext& context) {
  // The player's source exists before the composition's receivers list theirs.
  std::unique_ptr<MidiFilePlayer> player;
  if (!playFile_.empty()) {
    std::string problem;
    player = MidiFilePlayer::load(playFile_, &problem);
    if (!player) {
      context.err() << "wexmidi run: --play " << problem << "\n";
      return 1;
    }
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

  InterruptGuard interrupts;
  LineReader reader;
  if (context.interactiveInput()) reader.start(context.in());
  CommandHandler handler(*session, output, context.err());

  using Clock = std::chrono::steady_clock;
  const auto end = seconds_ < 0 ? Clock::time_point::max()
                                : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds_));
  composition.start(rate_);
  if (player) player->start();
  // After the last event, a moment for the composition to take it in.
  const auto settle = std::chrono::milliseconds(250);
  auto playedAt = Clock::time_point::max();
  while (!interrupted && Clock::now() < end) {
    if (player && seconds_ < 0 && player->finished()) {
      if (playedAt == Clock::time_point::max()) playedAt = Clock::now();
      if (Clock::now() - playedAt >= settle) break;
    }
    if (isMainThread()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    while (auto line = reader.next()) handler.handle(*line);
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
