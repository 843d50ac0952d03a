#include "app/DecodeCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string_view>

#include "app/ProgramContext.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadProc.h"
#include "midi/OrvMIDIReadTarget.h"
#include "midiio/HexReader.h"
#include "midiio/MessageFormat.h"
#include "midiio/MessageJSON.h"
#include "services/MIDIPacketListBuffer.h"

namespace wex {

namespace {

constexpr size_t kReadBlock = 64 * 1024;

// Stands for one receiving node: keeps the parser's state between callbacks,
// gathers the bytes read into packets and lists, and prints what is
// delivered into a buffer that the command writes out after each block read.
class DecodeSession : public OrvMIDIReadTarget, public HexReader::Sink {
 public:
  explicit DecodeSession(bool json) : json_(json) {}

  void receivedMIDI(const OrvMIDIMessageList& messages) override {
    for (const auto& message : messages) print(*message);
  }

  void bytes(const Byte* data, size_t count) override {
    if (!refusal_.empty()) return;
    if (list_.size() + count > kMaxListBytes) {
      refuse("a packet list of more than " + std::to_string(kMaxListBytes) +
             " bytes (end lists sooner: at line ends, or with //)");
      return;
    }
    list_.insert(list_.end(), data, data + count);
  }
  void slash() override { endPacket(); }
  // A "//" always ends a list, an empty one too: the parser counts every
  // callback, and an unfinished sysex is abandoned after 128 more of them.
  void doubleSlash() override {
    listsEndAtDoubleSlash_ = true;
    endList(true);
  }
  // Until the input shows a "//", each line is a packet list of its own.
  void lineEnd() override {
    if (!listsEndAtDoubleSlash_) endList();
    ++line_;
  }

  // Delivers what was given after the last list ended.
  void finish() { endList(); }

  // Why the input cannot be decoded, and on which line; empty while it can.
  const std::string& refusal() const { return refusal_; }
  size_t refusalLine() const { return refusalLine_; }

  // What was printed since the last takePrinted().
  std::string_view printed() const { return {printed_.data(), printedLength_}; }
  void takePrinted() { printedLength_ = 0; }

 private:
  static constexpr size_t kMaxPacketLength = 0xFFFF;
  // What one list, and one sysex across lists, may hold: the parser keeps
  // a sysex's bytes until it ends, and the printed line grows with it.
  static constexpr size_t kMaxListBytes = 1024 * 1024;
  static constexpr size_t kMaxSysexBytes = 1024 * 1024;

  void refuse(std::string reason) {
    refusal_ = std::move(reason);
    refusalLine_ = line_;
    list_.clear();
    packetEnds_.clear();
  }

  void endPacket() {
    // A packet holds at most 65535 bytes; longer runs go on in the next one.
    size_t start = packetEnds_.empty() ? 0 : packetEnds_.back();
    while (list_.size() - start > kMaxPacketLength) {
      start += kMaxPacketLength;
      packetEnds_.push_back(start);
    }
    if (list_.size() > start) packetEnds_.push_back(list_.size());
  }

  // A line end or the end of the input ends a list only when it holds bytes.
  void endList(bool evenEmpty = false) {
    if (!refusal_.empty()) return;
    endPacket();
    if (packetEnds_.empty() && !evenEmpty) return;
    const ByteCount size =
        kMIDIPacketListHeaderSize + packetEnds_.size() * kMIDIPacketHeaderSize + list_.size();
    if (buffer_.capacity() < size) buffer_ = MIDIPacketListBuffer(size);
    buffer_.clear();
    size_t start = 0;
    for (size_t end : packetEnds_) {
      buffer_.addPacket(list_.data() + start, end - start);
      start = end;
    }
    list_.clear();
    packetEnds_.clear();
    myMIDIReadProc(buffer_.list(), static_cast<OrvMIDIReadTarget*>(this), nullptr);
    ++callbackIndex_;
    if (processingSysex() && sysexArray().size() > kMaxSysexBytes) {
      refuse("a sysex of more than " + std::to_string(kMaxSysexBytes) + " bytes");
    }
  }

  // Room for `length` more characters at the end of what was printed.
  char* room(size_t length) {
    if (printed_.size() - printedLength_ < length) {
      printed_.resize(std::max(printed_.size() * 2, printedLength_ + length));
    }
    return printed_.data() + printedLength_;
  }
  void append(std::string_view text) {
    text.copy(room(text.size()), text.size());
    printedLength_ += text.size();
  }

  // Writes the message's line in place; false when `write` does not take it.
  bool printWith(size_t longest, char* (*write)(char*, const OrvMIDIMessage&),
                 const OrvMIDIMessage& message) {
    char* const start = room(longest + 1);
    char* end = write(start, message);
    if (!end) return false;
    *end++ = '\n';
    printedLength_ += static_cast<size_t>(end - start);
    return true;
  }

  void print(const OrvMIDIMessage& message) {
    if (json_) return printJSON(message);
    if (printWith(MessageFormat::kMaxPlainLength, MessageFormat::writePlain, message)) return;
    if (printWith(MessageFormat::maxSysexLength(message), MessageFormat::writeSysex, message)) {
      return;
    }
    // A type without a text of its own, or a sysex without bytes: rare.
    std::string line;
    MessageFormat::appendValue(line, message);
    line += '\t';
    MessageFormat::appendText(line, message);
    line += '\n';
    append(line);
  }

  void printJSON(const OrvMIDIMessage& message) {
    nlohmann::ordered_json line = {{"callback", callbackIndex_}};
    MessageJSON::append(line, message);
    append(line.dump());
    append("\n");
  }

  bool json_;
  bool listsEndAtDoubleSlash_ = false;
  size_t line_ = 1;
  std::string refusal_;
  size_t refusalLine_ = 0;
  std::vector<Byte> list_;
  std::vector<size_t> packetEnds_;
  MIDIPacketListBuffer buffer_{1024};
  size_t callbackIndex_ = 0;
  // Printed text, the first printedLength_ characters of printed_.
  std::string printed_ = std::string(kReadBlock, '\0');
  size_t printedLength_ = 0;
};

// Writes what was printed; false once nobody reads the output any more.
bool writeOut(std::ostream& out, DecodeSession& session) {
  const std::string_view printed = session.printed();
  if (!printed.empty()) {
    out.write(printed.data(), static_cast<std::streamsize>(printed.size()));
    session.takePrinted();
  }
  out.flush();
  return static_cast<bool>(out);
}

// The next block of standard input: straight from the descriptor for the
// process's own, so that a pipe is decoded as it comes.
size_t readBlock(std::istream& in, char* block) {
  if (&in == &std::cin) {
    for (;;) {
      const ssize_t count = ::read(STDIN_FILENO, block, kReadBlock);
      if (count >= 0) return static_cast<size_t>(count);
      if (errno != EINTR) return 0;
    }
  }
  in.read(block, kReadBlock);
  return static_cast<size_t>(in.gcount());
}

// Prints what was decoded before the input went beyond the bounds, and why
// decoding stops; the usage status.
int refuse(ProgramContext& context, DecodeSession& session) {
  writeOut(context.out(), session);
  context.err() << "wexmidi decode: line " << session.refusalLine() << ": " << session.refusal()
                << '\n';
  return 2;
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
      "Hex bytes (90 3C 64, or one run 903C64); / ends a packet, // ends a packet list. "
      "Without arguments, read them from standard input (# starts a comment): each line is "
      "a packet list, delivered and printed when the line ends, until a // appears; from "
      "then on lists end at // (and at the end of the input).");
  return command;
}

int DecodeCommand::run(ProgramContext& context) {
  DecodeSession session(json_);
  HexReader reader(session);
  if (!tokens_.empty()) {
    for (const auto& token : tokens_) {
      if (!reader.feed(token.data(), token.size()) || !reader.feed(" ", 1)) {
        context.err() << "wexmidi decode: " << reader.error() << '\n';
        return 2;
      }
      if (!session.refusal().empty()) {
        context.err() << "wexmidi decode: " << session.refusal() << '\n';
        return 2;
      }
    }
  } else {
    std::string block(kReadBlock, '\0');
    while (const size_t count = readBlock(context.in(), block.data())) {
      if (!reader.feed(block.data(), count)) {
        writeOut(context.out(), session);
        context.err() << "wexmidi decode: line " << reader.line() << ": " << reader.error() << '\n';
        return 2;
      }
      if (!session.refusal().empty()) return refuse(context, session);
      if (!writeOut(context.out(), session)) return 0;
    }
    if (!reader.finish()) {
      context.err() << "wexmidi decode: line " << reader.line() << ": " << reader.error() << '\n';
      return 2;
    }
  }
  session.finish();
  if (!session.refusal().empty()) return refuse(context, session);
  writeOut(context.out(), session);
  return 0;
}

}  // namespace wex
