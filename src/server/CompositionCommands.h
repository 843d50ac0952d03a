#pragma once

#include <atomic>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/Composition.h"
#include "host/ValueJSON.h"
#include "server/EditHistory.h"

namespace wex {

class DestinationSender;

// A command that cannot be done; the reason names what is wrong. Nothing was
// changed.
class CommandError : public std::runtime_error {
 public:
  explicit CommandError(const std::string& reason) : std::runtime_error(reason) {}
};

// A command refused because it reaches beyond what this composition's
// commands may touch (a save to another file); nothing was changed.
class CommandForbidden : public CommandError {
 public:
  using CommandError::CommandError;
};

// The commands that change a running composition, one JSON object each, the
// same whether typed on standard input (run, serve) or posted to the HTTP API:
//
//   {"set": "id.port", "value": V}
//   {"panel": "id"} with "tick": ROW | "untick": ROW | "switch": NAME, "state": "on"|"off"
//                   | "number": NAME, "value": N | "close": true (or nothing: show it)
//   {"save": PATH} (or true: the composition's own file, when it has one)
//   {"add": CLASS, "id": ID, "position": [X, Y], "settings": {...}}
//                   (id, position and settings, as a file holds them, optional)
//   {"remove": "id"}
//   {"connect": "id.output", "to": "id.input"}
//   {"disconnect": "id.input"}
//   {"move": "id", "position": [X, Y]}   (null: no place of its own)
//   {"send": [MESSAGE VALUES], "to": ["destination", ...]}   (to optional: all)
//   {"undo": true}, {"redo": true}
//
// Undo takes back the latest edit (add, remove, connect, disconnect, move,
// set, a panel's tick, switch or number) not taken back yet, whoever made it;
// redo does again what undo took back, until a new edit is made.
//
// perform() runs the command on the main thread and returns its answer; a
// command of any shape is either done or refused with a CommandError that
// names what is wrong (a CommandForbidden when it reaches beyond its scope),
// and a refused command changes nothing.
class CompositionCommands {
 public:
  using Json = ValueJSON::Json;

  struct Options {
    // What {"save": true} writes; empty: save needs a file name.
    std::string file;
    // False: save writes `file` only (so that a request cannot write elsewhere).
    bool savesAnywhere = true;
    // Null: there is no "send".
    DestinationSender* sender = nullptr;
    // False: there is no add, remove, connect, disconnect or move.
    bool editsStructure = true;
  };

  // Longer command lines are refused.
  static constexpr size_t kMaxLineLength = 1024 * 1024;

  // What a command changed, for those who show the composition.
  enum class Change { Structure, Values, Panel, Saved, History };
  using Observer = std::function<void(Change change, const std::string& id)>;

  CompositionCommands(Composition& composition, Options options);

  Json perform(const Json& command);
  // One line of text: a blank line is no command and answers null.
  Json performLine(const std::string& line);
  // Reads a command's JSON (a value sits one level below the command) with
  // the limits of untrusted text; CommandError when it is not JSON.
  static Json parse(const std::string& text);
  // Sets an input from a JSON value, which must suit the port's type (any
  // thread that may set inputs). CommandError when it cannot.
  static void setInput(Composition& composition, const std::string& address, const Json& value);

  // The destinations "send" can reach (none without send); any thread.
  std::vector<std::string> destinations();

  // The observer is called on the main thread, within the command.
  void setObserver(Observer observer);
  // True after a change that the file does not hold yet.
  bool unsaved() const { return unsaved_.load(); }
  // How many edits undo and redo can take back and do again (any thread).
  size_t undoable() const { return undoable_.load(); }
  size_t redoable() const { return redoable_.load(); }

 private:
  Json dispatch(const Json& command);
  std::string kind(const Json& command) const;
  Json apply(const std::string& kind, const Json& command);
  Json undo();
  Json redo();
  void historyChanged();
  std::string commandNames() const;
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
  const Options options_;
  Observer observer_;  // main thread
  std::atomic<bool> unsaved_{false};
  EditHistory history_;  // main thread
  std::atomic<size_t> undoable_{0};
  std::atomic<size_t> redoable_{0};
};

}  // namespace wex
