#pragma once

#include <string>

#include "host/Composition.h"

namespace wex {

class ProgramContext;

// The file beside a composition ("FILE.recovery") where `serve` keeps the
// edits it would otherwise lose when it is stopped before they were saved,
// and the note that tells the next command opening FILE about it.
class RecoveryFile {
 public:
  static std::string pathFor(const std::string& file);

  // Writes the composition to FILE's recovery file (replacing it whole or
  // not at all). False, with the reason, when it cannot be written.
  static bool keep(const Composition& composition, const std::string& file, std::string* reason);

  // When FILE has a recovery file, says so on the context's error stream
  // with how to use it or drop it.
  static void mentionIfPresent(ProgramContext& context, const std::string& command,
                               const std::string& file);
};

}  // namespace wex
