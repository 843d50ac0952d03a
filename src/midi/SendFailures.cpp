#include "midi/SendFailures.h"

#include "support/SystemLog.h"

namespace wex {

bool SendFailures::count(const std::string& destination, const std::string& cause) {
  total_.fetch_add(1);
  std::lock_guard lock(mutex_);
  return logged_.emplace(destination, cause).second;
}

void SendFailures::explain(const std::string& destination, const std::string& reason) const {
  const std::string who = sender_.empty() ? "a sender" : "sender \"" + sender_ + "\"";
  SystemLog::write("\t" + who + " could not send a message to \"" + destination + "\": " + reason +
                   "; more messages not sent there for this reason are counted, not logged");
}

}  // namespace wex
