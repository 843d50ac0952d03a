#include "app/JsonLineOutput.h"

namespace wex {

void JsonLineOutput::line(const ValueJSON::Json& json) {
  std::lock_guard lock(mutex_);
  out_ << json.dump() << "\n";
  out_.flush();
  if (!out_) closed_ = true;
}

}  // namespace wex
