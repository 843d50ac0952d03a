#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/Command.h"

namespace wex {

// The wexmidi command line: parses the arguments, runs one subcommand and
// gives its exit status (2 for a usage error).
class WexmidiProgram {
 public:
  WexmidiProgram();
  ~WexmidiProgram();

  int run(int argc, const char* const* argv, std::istream& in = std::cin,
          std::ostream& out = std::cout, std::ostream& err = std::cerr);

  // "wexmidi VERSION", and the commit it was built from when it was built
  // from a checkout.
  static std::string versionText();

 private:
  std::vector<std::unique_ptr<Command>> commands_;
};

}  // namespace wex
