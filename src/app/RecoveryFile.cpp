#include "app/RecoveryFile.h"

#include <filesystem>

#include "app/ProgramContext.h"
#include "host/CompositionFile.h"
#include "host/QuotedText.h"

namespace wex {

namespace {

// A path as a shell takes it back: as it is when plain, else in single quotes.
std::string shellWord(const std::string& path) {
  if (!path.empty() && path.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_-+=.,/:@%") == std::string::npos) {
    return path;
  }
  std::string quoted = "'";
  for (const char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

std::string RecoveryFile::pathFor(const std::string& file) {
  return file + ".recovery";
}

bool RecoveryFile::keep(const Composition& composition, const std::string& file,
                        std::string* reason) {
  try {
    CompositionFile::save(composition, pathFor(file));
  } catch (const CompositionFileError& error) {
    *reason = error.what();
    return false;
  }
  return true;
}

void RecoveryFile::mentionIfPresent(ProgramContext& context, const std::string& command,
                                    const std::string& file) {
  const std::string recovery = pathFor(file);
  std::error_code error;
  if (!std::filesystem::is_regular_file(recovery, error)) return;
  const std::string shown = shellWord(recovery);
  context.err() << "wexmidi " << command << ": " << QuotedText::of(recovery)
                << " holds changes that a stopped serve had not saved to " << QuotedText::of(file)
                << ": look at them with `wexmidi serve " << shown << "`, keep them with `mv "
                << shown << " " << shellWord(file) << "`, or drop them by deleting " << shown
                << "\n";
}

}  // namespace wex
