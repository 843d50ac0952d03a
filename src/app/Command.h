#pragma once

#include <CLI/CLI.hpp>

namespace wex {

class ProgramContext;

// One subcommand of the wexmidi program.
class Command {
 public:
  virtual ~Command() = default;
  // Adds the subcommand, with its options, to the program's parser.
  virtual CLI::App* add(CLI::App& program) = 0;
  // Runs the parsed subcommand; returns the exit status (0 success, 1 failure
  // at run time, 2 usage error).
  virtual int run(ProgramContext& context) = 0;
  // Whether MIDI passes through the program while it runs, so that its MIDI
  // threads should run realtime where the server does.
  virtual bool carriesMIDIInTime() const { return false; }
};

}  // namespace wex
