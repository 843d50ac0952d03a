// Loads composition files made from the input. A bad file must end in one
// CompositionFileError; a good one must evaluate, and save to a text that
// loads again and saves the same.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/CompositionFile.h"
#include "host/PlugInRegistry.h"
#include "patches/WexPatches.h"
#include "support/SystemLog.h"

namespace {

const wex::PlugInRegistry& registry() {
  static const auto* registry = [] {
    auto* made = new wex::PlugInRegistry;
    wex::registerWexPatches(*made);
    return made;
  }();
  return *registry;
}

void fail(const char* what, const std::string& detail) {
  std::fprintf(stderr, "fuzz_composition_file: %s\n%s\n", what, detail.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto* quiet = new wex::SystemLog::Capture;
  quiet->clear();
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<wex::Composition> composition;
  try {
    composition = wex::CompositionFile::parse(text, "fuzz.json", registry());
  } catch (const wex::CompositionFileError& error) {
    if (std::string(error.what()).find("fuzz.json") == std::string::npos) {
      fail("an error that does not name the file", error.what());
    }
    return 0;
  }
  if (!composition) fail("a load that neither failed nor made a composition", text);
  composition->evaluate(0.0);
  composition->evaluate(0.5);

  const std::string saved = wex::CompositionFile::serialize(*composition);
  std::unique_ptr<wex::Composition> reloaded;
  try {
    reloaded = wex::CompositionFile::parse(saved, "saved.json", registry());
  } catch (const wex::CompositionFileError& error) {
    fail("a saved composition does not load", std::string(error.what()) + "\n" + saved);
  }
  if (wex::CompositionFile::serialize(*reloaded) != saved) {
    fail("a saved composition loads back different", saved);
  }
  return 0;
}
