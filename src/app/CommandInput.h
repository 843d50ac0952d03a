#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "app/JsonLineOutput.h"
#include "app/LineReader.h"
#include "server/CompositionCommands.h"

namespace wex {

class ProgramContext;

// The commands typed on standard input while a composition runs, one JSON
// object a line. Each answer is a JSON line on standard output (a set has
// none: watched outputs show what it did); each refusal is one line on
// standard error, "wexmidi COMMAND: standard input line N: REASON".
class CommandInput {
 public:
  // Told of each refusal too, with the line as printed.
  using RefusalHandler = std::function<void(const std::string& line)>;

  CommandInput(ProgramContext& context, std::string commandName, CompositionCommands& commands,
               JsonLineOutput& output);

  void setRefusalHandler(RefusalHandler handler) { onRefusal_ = std::move(handler); }
  // Reads standard input on a thread of its own, when it is a stream of commands.
  void start();
  // Performs the lines read so far (on the main thread), stopping early once
  // `stopNow` says so, so that a flood of lines cannot hold off the end.
  void performWaiting(const std::function<bool()>& stopNow = {});
  void stop();

 private:
  ProgramContext& context_;
  const std::string commandName_;
  CompositionCommands& commands_;
  JsonLineOutput& output_;
  RefusalHandler onRefusal_;
  LineReader reader_;
  uint64_t lineNumber_ = 0;
};

}  // namespace wex
