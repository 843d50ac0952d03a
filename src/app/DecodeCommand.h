#pragma once

#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// `wexmidi decode`: feeds hex bytes, from the arguments or standard input, to
// the read callback of a receiving node and prints the messages it delivers.
// "/" ends a packet and "//" ends a packet list; one parser state carries
// across all lists, as it does across the callbacks of one node.
class DecodeCommand : public Command {
 public:
  CLI::App* add(CLI::App& program) override;
  int run(ProgramContext& context) override;

 private:
  bool json_ = false;
  std::vector<std::string> tokens_;
};

}  // namespace wex
