#pragma once

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>

#include "host/Composition.h"
#include "host/ValueJSON.h"

namespace wex {

class MidiTools;

// A command that cannot be done; the reason names what is wrong. Nothing was
// changed.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const std::string& reason) : std::runtime_error(reason) {}
};

// The commands that change a running composition, one JSON object each, the
// same whether typed on standard input or posted to the HTTP API:
//
//   {"set": "id.port", "value": V}
//   {"panel": "id"} with "tick": ROW | "untick": ROW | "switch": NAME, "state": "on"|"off"
//                   | "number": NAME, "value": N | "close": true (or nothing: show it)
//   {"save": PATH} (or true: the composition's own file)
//   {"add": CLASS, "id": ID, "position": [X, Y]}   (id and position optional)
//   {"remove": "id"}
//   {"connect": "id.output", "to": "id.input"}
//   {"disconnect": "id.input"}
//   {"move": "id", "position": [X, Y]}
//   {"send": [MESSAGE VALUES], "to": ["destination", ...]}   (to optional: all)
//
// perform() runs the command on the main thread and returns its answer; a bad
// command throws CommandError and changes nothing.
class CompositionCommands {
 public:
  using Json = ValueJSON::Json;

  // What a command changed, for those who show the composition.
  enum class Change { Structure, Values, Panel, Saved };
  using Observer = std::function<void(Change change, const std::string& id)>;

  // `file` is what {"save": true} writes; with `savesAnywhere` false, save
  // writes that file only (so that a request cannot write elsewhere). `tools`
  // may be null: then "send" is refused.
  CompositionCommands(Composition& composition, std::string file, bool savesAnywhere,
                      MidiTools* tools);

  Json perform(const Json& command);
  // Parses one line first; a line that is no JSON object is a CommandError.
  Json performLine(const std::string& line);

  // The observer is called on the main thread, within the command.
  void setObserver(Observer observer);
  // True after a change that the file does not hold yet.
  bool unsaved() const { return unsaved_.load(); }

 private:
  Json dispatch(const Json& command);
  Json set(const Json& command);
  Json panel(const Json& command);
  bool editPanel(QCPlugInViewController& panel, const Json& command);
  Json save(const Json& command);
  Json add(const Json& command);
  Json remove(const Json& command);
  Json connect(const Json& command);
  Json disconnect(const Json& command);
  Json move(const Json& command);
  Json send(const Json& command);
  void changed(Change change, const std::string& id);

  Composition& composition_;
  std::string file_;
  bool savesAnywhere_;
  MidiTools* tools_;
  Observer observer_;  // main thread
  std::atomic<bool> unsaved_{false};
};

}  // namespace wex
