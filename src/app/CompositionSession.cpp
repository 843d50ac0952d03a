#include "app/CompositionSession.h"

#include <filesystem>

#include "app/ProgramContext.h"
#include "app/RecoveryFile.h"
#include "host/CompositionFile.h"
#include "host/JSONReader.h"
#include "host/QuotedText.h"
#include "patches/WexPatches.h"
#include "server/CompositionCommands.h"

namespace wex {

std::unique_ptr<CompositionSession> CompositionSession::open(ProgramContext& context,
                                                             const std::string& command,
                                                             const std::string& file) {
  if (!context.startMIDIServices()) return nullptr;
  RecoveryFile::mentionIfPresent(context, command, file);
  std::unique_ptr<CompositionSession> session(new CompositionSession());
  registerWexPatches(session->registry_);
  try {
    session->composition_ = CompositionFile::load(file, session->registry_);
  } catch (const CompositionFileError& error) {
    context.err() << "wexmidi " << command << ": " << error.what() << "\n";
    return nullptr;
  }
  return session;
}

std::unique_ptr<CompositionSession> CompositionSession::openOrCreate(ProgramContext& context,
                                                                     const std::string& command,
                                                                     const std::string& file) {
  std::error_code error;
  if (std::filesystem::exists(file, error) || error) return open(context, command, file);
  if (!context.startMIDIServices()) return nullptr;
  RecoveryFile::mentionIfPresent(context, command, file);
  std::unique_ptr<CompositionSession> session(new CompositionSession());
  registerWexPatches(session->registry_);
  session->composition_ = std::make_unique<Composition>(session->registry_);
  return session;
}

CompositionSession::~CompositionSession() {
  composition_.reset();
}

bool CompositionSession::applySetting(const std::string& assignment, std::string* reason) {
  const size_t equals = assignment.find('=');
  if (equals == std::string::npos) {
    *reason = "expected ID.PORT=VALUE, got " + QuotedText::of(assignment);
    return false;
  }
  const std::string text = assignment.substr(equals + 1);
  ValueJSON::Json value;
  try {
    value = JSONReader::parse(text, ValueJSON::kMaxDepth);
  } catch (const JSONReadError& error) {
    // Plain text is a string; what is JSON in all but its limits is refused.
    if (std::string(error.what()).rfind("not valid JSON", 0) != 0) {
      *reason = error.what();
      return false;
    }
    value = text;
  }
  try {
    CompositionCommands::setInput(*composition_, assignment.substr(0, equals), value);
  } catch (const CommandError& error) {
    *reason = error.what();
    return false;
  }
  return true;
}

}  // namespace wex
