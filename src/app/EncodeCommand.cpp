#include "app/EncodeCommand.h"

#include <charconv>
#include <optional>

#include "app/ProgramContext.h"
#include "midi/OrvMIDIMessage.h"
#include "patches/MessageValue.h"

namespace wex {

namespace {

// How an argument is taken: "0x..." is a hex number, anything that reads
// whole as a decimal number is a number, text in double quotes is that text
// (so "5" is a one-byte sysex string), and everything else is text.
std::optional<Value> argumentValue(const std::string& argument, std::string& error) {
  const char* begin = argument.data();
  const char* end = begin + argument.size();
  if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"') {
    return Value::string(argument.substr(1, argument.size() - 2));
  }
  if (argument.size() > 2 && argument[0] == '0' && (argument[1] == 'x' || argument[1] == 'X')) {
    uint64_t number = 0;
    auto [stop, status] = std::from_chars(begin + 2, end, number, 16);
    if (status != std::errc() || stop != end) {
      error = "not a hex number";
      return std::nullopt;
    }
    return Value::index(number);
  }
  double number = 0;
  auto [stop, status] = std::from_chars(begin, end, number);
  if (status == std::errc() && stop == end) return Value::number(number);
  if (status == std::errc::result_out_of_range && stop == end) {
    error = "the number is out of range";
    return std::nullopt;
  }
  return Value::string(argument);
}

std::string hexBytes(const OrvMIDIMessage& message) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::vector<Byte> bytes(message.wireLength());
  const size_t count = message.writeWireBytes(bytes.data());
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    if (i > 0) text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
  }
  return text;
}

}  // namespace

CLI::App* EncodeCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "encode",
      "Read each argument as a message value and print the bytes its message goes out as, in "
      "hex, one line per message.");
  command
      ->add_option("values", values_,
                   "Message values: a message number, (type|channel)<<16 | data1<<8 | data2 "
                   "(decimal, or hex as 0x903C64), or a sysex string of decimal bytes separated "
                   "by commas (1,2,3; a single byte in double quotes, \"5\")")
      ->required();
  return command;
}

int EncodeCommand::run(ProgramContext& context) {
  int status = 0;
  for (const auto& argument : values_) {
    std::string reason;
    std::shared_ptr<OrvMIDIMessage> message;
    if (auto value = argumentValue(argument, reason)) message = MessageValue::read(*value, &reason);
    if (!message) {
      context.err() << "wexmidi encode: \"" << argument << "\" yields no message: " << reason
                    << '\n';
      status = 1;
      continue;
    }
    context.out() << hexBytes(*message) << '\n';
  }
  return status;
}

}  // namespace wex
