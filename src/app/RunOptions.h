#pragma once

#include <CLI/CLI.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "app/OscBridge.h"

namespace wex {

class Composition;
class CompositionSession;
class MIDIFilePlayer;
class PortWatcher;
class ProgramContext;

// The options that `run` and `serve` share, and the steps both take with
// them. Each step says what went wrong on the context's error stream,
// after "wexmidi COMMAND: ".
class RunOptions {
 public:
  // --for at most (about 31 years): beyond, the end time would overflow.
  static constexpr double kMaxSeconds = 1e9;

  // A finite number within bounds, refused with the bounds, never with a
  // long rendering of the number given.
  static CLI::Validator finiteRange(double low, double high, const std::string& what);

  explicit RunOptions(std::string command) : command_(std::move(command)) {}

  // Adds --for, --rate, --set, --watch, --save, --play, --lenient and the
  // OSC options.
  void add(CLI::App* command, const std::string& playHelp);

  // Loads --play's file (when given) and publishes its source before the
  // composition's receivers list theirs. False when it cannot.
  bool preparePlayer(ProgramContext& context, std::unique_ptr<MIDIFilePlayer>* player) const;
  // Applies each --set and adds each --watch: 0, or 2 for a bad one.
  int applySetsAndWatches(ProgramContext& context, CompositionSession& session,
                          PortWatcher& watcher) const;
  // When --for ends the run (the far future without it).
  std::chrono::steady_clock::time_point endTime() const;
  // Says how many of --play's events the MIDI services refused, if any:
  // 0, or 1 when some could not be played.
  int reportUnplayed(ProgramContext& context, const MIDIFilePlayer* player) const;
  // Writes --save's file when given: 0, or 1 when it cannot.
  int saveAtEnd(ProgramContext& context, Composition& composition) const;

  bool runsUntilInterrupted() const { return seconds_ < 0; }
  bool savesAtEnd() const { return !saveFile_.empty(); }
  const OscBridge::Options& osc() const { return osc_; }
  double rate() const { return rate_; }

 private:
  std::string command_;
  double seconds_ = -1;  // below 0: until interrupted
  double rate_ = 60;
  std::vector<std::string> sets_;
  std::vector<std::string> watches_;
  std::string saveFile_;
  std::string playFile_;
  bool lenient_ = false;
  OscBridge::Options osc_;
};

}  // namespace wex
