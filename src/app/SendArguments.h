#pragma once

#include <string>
#include <vector>

#include "host/Value.h"

namespace wex {

// What `send` takes, in the order given, turned into message values: message
// values, readable words (on CH NOTE VEL, off CH NOTE VEL, cc CH NUM VAL,
// pc CH NUM, pb CH VAL; channels 1 to 16), hex bytes as decode reads them,
// and files of raw bytes (.syx). Every argument refused is named with its
// reason.
class SendArguments {
 public:
  enum class Kind { Plain, Hex, File };
  struct Argument {
    Kind kind;
    std::string text;
  };

  static constexpr const char* kWordsHelp =
      "or readable words: on CH NOTE VEL, off CH NOTE VEL, cc CH NUM VAL, pc CH NUM, pb CH VAL "
      "(channel 1 to 16, the others 0 to 127, pb 0 to 16383 with 8192 the centre)";

  // The most messages one send takes, so that a file of small messages
  // cannot fill memory with their values.
  static constexpr size_t kMaxMessages = 1'000'000;

  explicit SendArguments(const std::vector<Argument>& arguments);

  const std::vector<Value>& messages() const { return messages_; }
  // One line per refused argument: "\"ARG\": reason".
  const std::vector<std::string>& refusals() const { return refusals_; }

 private:
  // The word at `at` and its numbers; moves `at` past what it took.
  void addWords(const std::vector<Argument>& arguments, size_t& at);
  void addValue(const std::string& text);
  void addBytes(const std::string& shown, const std::string& bytes);
  void refuse(const std::string& shown, const std::string& reason);

  std::vector<Value> messages_;
  std::vector<std::string> refusals_;
};

}  // namespace wex
