#pragma once

#include <memory>
#include <string>

#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/ValueJSON.h"

namespace wex {

class ProgramContext;

// A composition file loaded for a command, with the MIDI services started
// and this system's patches registered.
class CompositionSession {
 public:
  // Null, with the reason on the context's error stream, when the services
  // cannot start or the file is bad.
  static std::unique_ptr<CompositionSession> open(ProgramContext& context,
                                                  const std::string& command,
                                                  const std::string& file);
  // As open, but a file that does not exist yet gives an empty composition
  // (that saving will write there).
  static std::unique_ptr<CompositionSession> openOrCreate(ProgramContext& context,
                                                          const std::string& command,
                                                          const std::string& file);
  ~CompositionSession();

  Composition& composition() { return *composition_; }

  // Parses "ID.PORT=VALUE" and sets that input; VALUE is JSON, or else text.
  bool applySetting(const std::string& assignment, std::string* reason);

 private:
  CompositionSession() = default;

  PlugInRegistry registry_;
  std::unique_ptr<Composition> composition_;
};

}  // namespace wex
