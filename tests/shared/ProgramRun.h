#pragma once

// Runs the wexmidi program inside the test process, as the app tests do.

#include <chrono>
#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace wex::test {

struct ProgramRun {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs `wexmidi ARGS` with `input` on its standard input.
ProgramRun runInProcess(std::vector<std::string> args, const std::string& input = "");

// Text written by the program that another thread may read as it grows.
class SharedTextBuffer : public std::streambuf {
 public:
  std::string text() const;
  // Waits until the text holds `part`; false on timeout.
  bool waitFor(const std::string& part, std::chrono::seconds timeout = std::chrono::seconds(20));

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* s, std::streamsize n) override;

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

// Runs `wexmidi --midi BACKEND monitor ARGS` on a thread and, once it listens,
// `act` with its growing error text; then waits for it to end (by --for).
// What it writes goes to `out` when given, else into the run's `out`.
ProgramRun monitorWhile(const std::string& backend, std::vector<std::string> args,
                        const std::function<void(SharedTextBuffer& err)>& act,
                        std::ostream* out = nullptr);

}  // namespace wex::test
