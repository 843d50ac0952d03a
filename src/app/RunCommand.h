#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi run FILE`: loads a composition and evaluates it on its own thread
// while the program's main thread serves panels and list rebuilds, until
// --for has passed or the user interrupts it. Watched outputs print one JSON
// line per assignment; JSON lines on standard input set inputs, show and edit
// panels and save. With --play, a Standard MIDI File plays in real time from
// the source "wexmidi Player", and the run ends soon after its last event
// unless --for says otherwise.
class RunCommand : public Command {
 public:
  // --for at most (about 31 years): beyond, the end time would overflow.
  static constexpr double kMaxSeconds = 1e9;

  // Checks of --for and --rate, shared with serve: a finite number within
  // bounds, refused with the bounds.
  static CLI::Validator finiteRange(double low, double high, const std::string& what);

  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  std::string file_;
  double seconds_ = -1;  // below 0: until interrupted
  double rate_ = 60;
  std::vector<std::string> sets_;
  std::vector<std::string> watches_;
  std::string saveFile_;
  std::string playFile_;
  bool lenient_ = false;
};

}  // namespace wex
