#pragma once

#include <functional>
#include <string>
#include <utility>

namespace wex {

// A two-state switch of a settings panel with an action, called with the
// switch as sender after the user changed its state.
class PanelSwitch {
 public:
  using Action = std::function<void(PanelSwitch& sender)>;

  PanelSwitch(std::string name, std::string title, Action action)
      : name_(std::move(name)), title_(std::move(title)), action_(std::move(action)) {}

  const std::string& name() const { return name_; }
  const std::string& title() const { return title_; }
  bool state() const { return state_; }
  // Sets the state without sending the action (as a program would).
  void setState(bool on) { state_ = on; }
  void setAction(Action action) { action_ = std::move(action); }

  // What a user's click does: the new state, then the action.
  void userSetState(bool on) {
    state_ = on;
    if (action_) action_(*this);
  }

 private:
  std::string name_;
  std::string title_;
  bool state_ = false;
  Action action_;
};

}  // namespace wex
