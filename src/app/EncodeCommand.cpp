#include "app/EncodeCommand.h"

#include <optional>

#include "app/ProgramContext.h"
#include "midi/OrvMIDIMessage.h"
#include "patches/MessageArgument.h"
#include "patches/MessageValue.h"

namespace wex {

namespace {

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
  command->add_option("values", values_, MessageArgument::kHelp)->required();
  return command;
}

int EncodeCommand::run(ProgramContext& context) {
  int status = 0;
  for (const auto& argument : values_) {
    std::string reason;
    OrvMIDIMessagePtr message;
    if (auto value = MessageArgument::value(argument, reason))
      message = MessageValue::read(*value, &reason);
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
