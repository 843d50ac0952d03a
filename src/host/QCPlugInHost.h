#pragma once

#include <string>

#include "host/QCPlugInTypes.h"

namespace wex {

class QCPlugIn;

// What a patch instance reports to the host that carries it (a Composition).
// Called on any thread, never with a port table lock held.
class QCPlugInHost {
 public:
  virtual ~QCPlugInHost() = default;
  // A dynamic port went away: connections to or from it go with it.
  virtual void plugInDidRemovePort(QCPlugIn& plugIn, QCPortDirection direction,
                                   const std::string& key) = 0;
  // The patch asks for an evaluation as soon as possible.
  virtual void plugInRequestsEvaluation(QCPlugIn& plugIn) = 0;
};

}  // namespace wex
