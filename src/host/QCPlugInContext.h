#pragma once

namespace wex {

// What the host hands a patch with each execution call. The patches of this
// system use nothing of it; it stands for the host's rendering context.
class QCPlugInContext {
 public:
  virtual ~QCPlugInContext() = default;
};

}  // namespace wex
