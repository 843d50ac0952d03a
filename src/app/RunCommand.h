#pragma once

#include <string>
#include <vector>

#include "app/Command.h"
#include "app/RunOptions.h"

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
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;
  bool carriesMIDIInTime() const override { return true; }

 private:
  std::string file_;
  RunOptions options_{"run"};
};

}  // namespace wex
