#pragma once

#include <string>

#include "host/Composition.h"

namespace wex {

class ProgramContext;

// The files beside a composition ("FILE.recovery", then "FILE.recovery-2"
// and on while earlier ones are still there) where `serve` keeps the edits it
// would otherwise lose when it is stopped before they were saved, and the
// note that tells the next command opening FILE about them. A recovery file
// is never written over: it may hold what no other file does.
class RecoveryFile {
 public:
  static constexpr int kMostKept = 20;

  // The recovery file `number` (from 1) of FILE.
  static std::string pathFor(const std::string& file, int number = 1);

  // Writes the composition to FILE's first free recovery file (whole or not
  // at all) and gives its path. False, with the reason, when it cannot be
  // written or every recovery file is taken.
  static bool keep(const Composition& composition, const std::string& file, std::string* path,
                   std::string* reason);

  // Says on the context's error stream, for each recovery file FILE has,
  // how to look at it, keep it or drop it.
  static void mentionIfPresent(ProgramContext& context, const std::string& command,
                               const std::string& file);
};

}  // namespace wex
