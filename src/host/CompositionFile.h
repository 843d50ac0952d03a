#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "host/Composition.h"
#include "host/ValueJSON.h"
#include "support/LimitedFileReader.h"

namespace wex {

// A bad composition file: the message names the file and the place in it.
class CompositionFileError : public std::runtime_error {
 public:
  explicit CompositionFileError(const std::string& message) : std::runtime_error(message) {}
};

// Composition files: JSON with a format version.
//
//   {"format": "wexmidi composition", "version": 1,
//    "patches": [{"id": "note", "class": "MIDI_MessagePlugIn",
//                 "settings": {...}, "inputs": {"inputChannel": 0, ...},
//                 "position": [120, 40]}],
//    "connections": [{"from": "note.outputMessage", "to": "group.message0"}]}
//
// "position" (optional) is where an editor shows the patch. Loading creates
// the patches, restores their settings, sets their inputs, then connects; any
// fault throws CompositionFileError and leaves nothing behind. Saving replaces
// the file whole or not at all (FileReplacement).
class CompositionFile {
 public:
  static constexpr int kFormatVersion = 1;
  // What a file may hold at most.
  static constexpr uint64_t kMaxFileSize = LimitedFileReader::kMaxFileSize;
  static constexpr size_t kMaxPatches = 10000;
  static constexpr size_t kMaxConnections = 50000;

  static std::unique_ptr<Composition> load(const std::string& path, const PlugInRegistry& registry);
  // `name` stands for the file in error messages.
  static std::unique_ptr<Composition> parse(const std::string& text, const std::string& name,
                                            const PlugInRegistry& registry);

  static ValueJSON::Json toJSON(const Composition& composition);
  // The text a save writes: indented, or compact where indentation would
  // take the file past kMaxFileSize.
  static std::string serialize(const Composition& composition);
  static std::string serialize(const ValueJSON::Json& document);
  // Throws CompositionFileError when the file cannot be written, or when
  // loading would refuse it (too many patches, connections or values, too
  // large); the file is then left as it was.
  static void save(const Composition& composition, const std::string& path);
};

}  // namespace wex
