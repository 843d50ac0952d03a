#include "ProgramRun.h"

#include <sstream>
#include <thread>

#include "app/WexmidiProgram.h"

namespace wex::test {

ProgramRun runInProcess(std::vector<std::string> args, const std::string& input) {
  args.insert(args.begin(), "wexmidi");
  std::vector<const char*> argv;
  for (const auto& arg : args) argv.push_back(arg.c_str());
  std::istringstream in(input);
  std::ostringstream out, err;
  ProgramRun run;
  run.status = WexmidiProgram().run(static_cast<int>(argv.size()), argv.data(), in, out, err);
  run.out = out.str();
  run.err = err.str();
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
