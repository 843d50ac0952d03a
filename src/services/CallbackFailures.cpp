#include "services/CallbackFailures.h"

#include <stdexcept>
#include <string>

#include "support/SystemLog.h"

namespace wex {

void CallbackFailures::noteThrown(MIDIClientRef client, const std::exception_ptr& error) {
  count_.fetch_add(1);
  {
    std::lock_guard lock(mutex_);
    if (!logged_.insert(client).second) return;
  }
  std::string what = "an exception of unknown type";
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& exception) {
    what = exception.what();
  } catch (...) {
  }
  SystemLog::writef("\tA MIDI callback of client %u threw (%s); later throws are only counted",
                    static_cast<unsigned>(client), what.c_str());
}

}  // namespace wex
