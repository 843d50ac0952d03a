#pragma once

#include <cstddef>
#include <deque>
#include <optional>

#include "host/ValueJSON.h"

namespace wex {

// The edits that undo and redo walk through: each step is the command that
// was done and the commands that take it back, in order. A new edit clears
// what could be redone. Main thread only, as the commands are.
class EditHistory {
 public:
  using Json = ValueJSON::Json;
  struct Step {
    Json command;  // as done, with what the composition chose filled in (an added id)
    Json undo;     // a list of commands
  };
  // Older steps are forgotten past this many.
  static constexpr size_t kMaxSteps = 500;

  void record(Step step);
  std::optional<Step> takeUndo();
  std::optional<Step> takeRedo();
  // After a step was undone (it can be redone) or redone (it can be undone).
  void undone(Step step);
  void redone(Step step);

  size_t undoCount() const { return undo_.size(); }
  size_t redoCount() const { return redo_.size(); }

 private:
  std::deque<Step> undo_;
  std::deque<Step> redo_;
};

}  // namespace wex
