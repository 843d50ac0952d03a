#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi monitor`: a receiver patch evaluated continuously; prints each
// message that arrives from the chosen sources (all by default) as decode
// does: its message value, a tab and its text, or a JSON line.
class MonitorCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  std::vector<std::string> sources_;
  bool json_ = false;
  double seconds_ = -1;  // below 0: until interrupted
};

}  // namespace wex
