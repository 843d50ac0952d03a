#pragma once

#include <functional>
#include <string>

#include "host/ValueJSON.h"

namespace wex {

class CompositionSession;

// The commands a running composition takes, one JSON object each:
//   {"set": "ID.PORT", "value": VALUE}
//   {"panel": "ID"} (shows it), {"panel": "ID", "close": true},
//   {"panel": "ID", "tick"|"untick": ROW}, {"panel": "ID", "switch": NAME, "state": "on"|"off"},
//   {"panel": "ID", "number": NAME, "value": N}
//   {"save": "PATH"}
// A command of any shape is either done or refused with a reason: nothing it
// holds makes it throw. Answers ({"panel": ...}, {"closed": ID}, {"saved":
// PATH}) go to the reply function.
class SessionCommand {
 public:
  using Json = ValueJSON::Json;
  using Reply = std::function<void(const Json&)>;

  // Longer command lines are refused.
  static constexpr size_t kMaxLineLength = 1024 * 1024;

  SessionCommand(CompositionSession& session, Reply reply);

  // A line of text: blank lines are no command and succeed.
  bool performLine(const std::string& line, std::string* reason);
  bool perform(const Json& command, std::string* reason);

 private:
  bool dispatch(const Json& command, std::string* reason);
  bool set(const Json& command, std::string* reason);
  bool panel(const Json& command, std::string* reason);
  bool save(const Json& command, std::string* reason);

  CompositionSession& session_;
  Reply reply_;
};

}  // namespace wex
