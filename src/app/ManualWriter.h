#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace wex {

// The manual page and the bash completion of the program, written from its
// parser: the same texts as --help, so the three never differ. The build
// writes them with `wexmidi --print-man-page` and
// `wexmidi --print-bash-completion`.
class ManualWriter {
 public:
  static std::string manPage(const CLI::App& program, const std::string& version);
  static std::string bashCompletion(const CLI::App& program);
};

}  // namespace wex
