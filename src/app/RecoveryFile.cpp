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

std::string RecoveryFile::pathFor(const std::string& file, int number) {
  return file + ".recovery" + (number == 1 ? "" : "-" + std::to_string(number));
}

bool RecoveryFile::keep(const Composition& composition, const std::string& file, std::string* path,
                        std::string* reason) {
  std::error_code error;
  int number = 1;
  while (number <= kMostKept && std::filesystem::exists(pathFor(file, number), error)) ++number;
  if (number > kMostKept) {
    *reason = "the " + std::to_string(kMostKept) + " recovery files beside it are all taken (" +
              pathFor(file, 1) + " and on): delete those no longer wanted";
    return false;
  }
  *path = pathFor(file, number);
  try {
    CompositionFile::save(composition, *path);
  } catch (const CompositionFileError& failure) {
    *reason = failure.what();
    return false;
  }
  return true;
}

void RecoveryFile::mentionIfPresent(ProgramContext& context, const std::string& command,
                                    const std::string& file) {
  for (int number = 1; number <= kMostKept; ++number) {
    const std::string recovery = pathFor(file, number);
    std::error_code error;
    if (!std::filesystem::is_regular_file(recovery, error)) continue;
    const std::string shown = shellWord(recovery);
    context.err() << "wexmidi " << command << ": " << QuotedText::of(recovery)
                  << " holds changes that a stopped serve had not saved to " << QuotedText::of(file)
                  << ": look at them with `wexmidi serve " << shown << "`, keep them with `mv "
                  << shown << " " << shellWord(file) << "`, or drop them by deleting " << shown
                  << "\n";
  }
}

}  // namespace wex
