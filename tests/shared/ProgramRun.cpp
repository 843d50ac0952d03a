#include "shared/ProgramRun.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "app/WexmidiProgram.h"

namespace wex::test {

namespace {

int runProgram(std::vector<std::string> args, std::istream& in, std::ostream& out,
               std::ostream& err) {
  args.insert(args.begin(), "wexmidi");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  return WexmidiProgram().run(static_cast<int>(argv.size()), argv.data(), in, out, err);
}

}  // namespace

ProgramRun runInProcess(std::vector<std::string> args, const std::string& input) {
  std::istringstream in(input);
  std::ostringstream out, err;
  ProgramRun run;
  run.status = runProgram(std::move(args), in, out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

ProgramRun monitorWhile(const std::string& backend, std::vector<std::string> args,
                        const std::function<void(SharedTextBuffer& err)>& act, std::ostream* out) {
  args.insert(args.begin(), {"--midi", backend, "monitor"});
  ProgramRun run;
  SharedTextBuffer errText;
  std::ostringstream ownOut;
  std::thread monitor([&] {
    std::istringstream in;
    std::ostream err(&errText);
    run.status = runProgram(args, in, out ? *out : ownOut, err);
  });
  if (errText.waitFor("listening to")) {
    act(errText);
  } else {
    ADD_FAILURE() << "the monitor never listened: " << errText.text();
  }
  monitor.join();
  run.out = ownOut.str();
  run.err = errText.text();
  return run;
}

std::string SharedTextBuffer::text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

bool SharedTextBuffer::waitFor(const std::string& part, std::chrono::seconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    if (text().find(part) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return false;
}

SharedTextBuffer::int_type SharedTextBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  std::lock_guard lock(mutex_);
  text_.push_back(traits_type::to_char_type(c));
  return c;
}

std::streamsize SharedTextBuffer::xsputn(const char* s, std::streamsize n) {
  std::lock_guard lock(mutex_);
  text_.append(s, static_cast<size_t>(n));
  return n;
}

}  // namespace wex::test
