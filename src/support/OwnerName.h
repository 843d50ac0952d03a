#pragma once

#include <string>

namespace wex {

// The name of what is being built on this thread, for the things made
// meanwhile to carry: a composition builds each patch under its id, and the
// MIDI services name the ports of their own that a client made then needs
// after it, so that those ports keep their names from run to run. Empty
// outside any scope.
class OwnerName {
 public:
  static const std::string& current();

  // Makes `name` the current owner name until the scope ends; scopes nest.
  class Scope {
   public:
    explicit Scope(std::string name);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    std::string previous_;
  };
};

}  // namespace wex
