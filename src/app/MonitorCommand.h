#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi monitor`: prints each message that arrives from the chosen
// sources (all by default, following those that come and go) as decode
// does, with the source's name, and optionally its time and bytes, or as a
// JSON line; filters by channel and kind.
class MonitorCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;
  bool carriesMIDIInTime() const override { return true; }

 private:
  std::vector<std::string> sources_;
  bool json_ = false;
  bool time_ = false;
  bool hex_ = false;
  int channel_ = 0;  // 0: every channel
  std::vector<std::string> types_;
  bool noClock_ = false;
  bool noActiveSensing_ = false;
  double seconds_ = -1;  // below 0: until interrupted
};

}  // namespace wex
