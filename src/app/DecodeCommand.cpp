#include "app/DecodeCommand.h"

#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "app/ProgramContext.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDISysexStateTarget.h"
#include "patches/MessageValue.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex {

namespace {

struct Token {
  enum class Kind { Bytes, EndPacket, EndList };
  Kind kind = Kind::Bytes;
  std::vector<Byte> bytes;
};

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "/", "//", or a run of bytes of two hex digits each; `error` tells what is
// wrong with anything else.
std::optional<Token> parseToken(const std::string& text, std::string& error) {
  Token token;
  if (text == "/") {
    token.kind = Token::Kind::EndPacket;
    return token;
  }
  if (text == "//") {
    token.kind = Token::Kind::EndList;
    return token;
  }
  for (char c : text) {
    if (hexDigit(c) < 0) {
      error = "\"" + text + "\" is not a hex byte (two hex digits each, or / or //)";
      return std::nullopt;
    }
  }
  if (text.empty() || text.size() % 2 != 0) {
    error = "\"" + text + "\" ends in a lone nibble (give each byte as two hex digits)";
    return std::nullopt;
  }
  for (size_t i = 0; i < text.size(); i += 2) {
    token.bytes.push_back(static_cast<Byte>(hexDigit(text[i]) * 16 + hexDigit(text[i + 1])));
  }
  return token;
}

std::string valueText(const Value& value) {
  if (value.isString()) return value.asString();
  return std::to_string(static_cast<uint64_t>(value.toDouble()));
}

nlohmann::ordered_json valueJson(const Value& value) {
  if (value.isString()) return value.asString();
  return static_cast<uint64_t>(value.toDouble());
}

// Stands for one receiving node: keeps the parser's state between callbacks,
// gathers the tokens into packets and lists, and prints what is delivered.
class DecodeSession : public OrvMIDISysexStateTarget {
 public:
  DecodeSession(std::ostream& out, bool json) : out_(out), json_(json) {}

  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    for (const auto& message : messages) print(*message);
    out_.flush();
  }

  void feed(const Token& token) {
    switch (token.kind) {
      case Token::Kind::Bytes:
        packet_.insert(packet_.end(), token.bytes.begin(), token.bytes.end());
        break;
      case Token::Kind::EndPacket:
        endPacket();
        break;
      case Token::Kind::EndList:
        endList();
        break;
    }
  }

  // Delivers what was given after the last "//".
  void finish() {
    if (!packet_.empty() || !packets_.empty()) endList();
  }

 private:
  static constexpr size_t kMaxPacketLength = 0xFFFF;

  void endPacket() {
    // A packet holds at most 65535 bytes; longer runs go on in the next one.
    for (size_t at = 0; at < packet_.size(); at += kMaxPacketLength) {
      const size_t length = std::min(kMaxPacketLength, packet_.size() - at);
      packets_.emplace_back(packet_.begin() + at, packet_.begin() + at + length);
    }
    packet_.clear();
  }

  void endList() {
    endPacket();
    ByteCount size = kMIDIPacketListHeaderSize;
    for (const auto& packet : packets_) size += kMIDIPacketHeaderSize + packet.size();
    MIDIPacketListBuffer list(size);
    for (const auto& packet : packets_) list.addPacket(packet);
    packets_.clear();
    myMIDIReadProc(list.list(), static_cast<OrvMIDIReadTarget*>(this), nullptr);
    ++callbackIndex_;
  }

  void print(const OrvMIDIMessage& message) {
    const Value value = MessageValue::write(message);
    const std::string text = message.lengthyDescription().value_or(message.description());
    if (!json_) {
      out_ << valueText(value) << '\t' << text << '\n';
      return;
    }
    nlohmann::ordered_json line = {{"callback", callbackIndex_}, {"value", valueJson(value)},
                                   {"type", message.type()},     {"channel", message.channel()},
                                   {"data1", message.data1()},   {"data2", message.data2()}};
    if (const auto* sysex = message.sysexArray()) line["sysex"] = *sysex;
    line["text"] = text;
    out_ << line.dump() << '\n';
  }

  std::ostream& out_;
  bool json_;
  std::vector<Byte> packet_;
  std::vector<std::vector<Byte>> packets_;
  size_t callbackIndex_ = 0;
};

bool feedWords(DecodeSession& session, std::istream& words, const std::string& where,
               std::ostream& err) {
  std::vector<Token> tokens;
  std::string word;
  while (words >> word) {
    std::string error;
    auto token = parseToken(word, error);
    if (!token) {
      err << "wexmidi decode: " << where << error << '\n';
      return false;
    }
    tokens.push_back(std::move(*token));
  }
  for (const auto& token : tokens) session.feed(token);
  return true;
}

}  // namespace

CLI::App* DecodeCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "decode",
      "Parse hex MIDI bytes as a receiving node does and print each message delivered: its "
      "message value, a tab, and its text.");
  command->add_flag("--json", json_,
                    "One JSON object per message: callback (0-based index of the packet list), "
                    "value, type, channel, data1, data2, sysex (where present), text");
  command->add_option(
      "bytes", tokens_,
      "Hex bytes (90 3C 64, or one run 903C64); / ends a packet, // ends a packet "
      "list. Without arguments, read them from standard input (# starts a comment).");
  return command;
}

int DecodeCommand::run(ProgramContext& context) {
  DecodeSession session(context.out(), json_);
  if (!tokens_.empty()) {
    std::ostringstream joined;
    for (const auto& token : tokens_) joined << token << ' ';
    std::istringstream words(joined.str());
    if (!feedWords(session, words, "", context.err())) return 2;
  } else {
    // Line by line, so that a stream from a pipe is decoded as it comes; a
    // "#" starts a comment that runs to the end of its line.
    std::string line;
    for (size_t number = 1; std::getline(context.in(), line); ++number) {
      std::istringstream words(line.substr(0, line.find('#')));
      if (!feedWords(session, words, "line " + std::to_string(number) + ": ", context.err())) {
        return 2;
      }
    }
  }
  session.finish();
  return 0;
}

}  // namespace wex
