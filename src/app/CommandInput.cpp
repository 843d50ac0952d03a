#include "app/CommandInput.h"

#include "app/ProgramContext.h"

namespace wex {

CommandInput::CommandInput(ProgramContext& context, std::string commandName,
                           CompositionCommands& commands, JsonLineOutput& output)
    : context_(context),
      commandName_(std::move(commandName)),
      commands_(commands),
      output_(output) {}

void CommandInput::start() {
  if (context_.interactiveInput()) reader_.start(context_.in());
}

void CommandInput::performWaiting(const std::function<bool()>& stopNow) {
  while (!stopNow || !stopNow()) {
    auto line = reader_.next();
    if (!line) break;
    ++lineNumber_;
    try {
      const auto answer = commands_.performLine(*line);
      if (!answer.is_null() && !answer.contains("set")) output_.line(answer);
    } catch (const CommandError& error) {
      const std::string refusal = "wexmidi " + commandName_ + ": standard input line " +
                                  std::to_string(lineNumber_) + ": " + error.what();
      context_.err() << refusal << std::endl;
      if (onRefusal_) onRefusal_(refusal);
    }
  }
}

void CommandInput::stop() {
  reader_.stop();
}

}  // namespace wex
