#include "server/EditHistory.h"

namespace wex {

void EditHistory::record(Step step) {
  redo_.clear();
  redone(std::move(step));
}

std::optional<EditHistory::Step> EditHistory::takeUndo() {
  if (undo_.empty()) return std::nullopt;
  Step step = std::move(undo_.back());
  undo_.pop_back();
  return step;
}

std::optional<EditHistory::Step> EditHistory::takeRedo() {
  if (redo_.empty()) return std::nullopt;
  Step step = std::move(redo_.back());
  redo_.pop_back();
  return step;
}

void EditHistory::undone(Step step) {
  redo_.push_back(std::move(step));
}

void EditHistory::redone(Step step) {
  undo_.push_back(std::move(step));
  if (undo_.size() > kMaxSteps) undo_.pop_front();
}

}  // namespace wex
