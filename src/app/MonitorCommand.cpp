#include "app/MonitorCommand.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <nlohmann/json.hpp>
#include <thread>

#include "app/InterruptWatch.h"
#include "app/ProgramContext.h"
#include "app/RunOptions.h"
#include "midiio/MessageFilter.h"
#include "midiio/MessageFormat.h"
#include "midiio/MessageJSON.h"
#include "midiio/SourceFollower.h"
#include "server/EndpointChooser.h"
#include "services/MIDIServices.h"
#include "support/MainThread.h"

namespace wex {

namespace {

using Clock = std::chrono::steady_clock;

struct LineOptions {
  bool json = false;
  bool time = false;
  bool hex = false;
};

// Prints the messages as they arrive; notices of sources that come and go
// share the lock so that no line is cut.
class MessagePrinter {
 public:
  MessagePrinter(std::ostream& out, std::ostream& err, LineOptions options, MessageFilter filter)
      : out_(out), err_(err), options_(options), filter_(std::move(filter)) {}

  // `arrival`: when the services say the messages arrived (nanoseconds of
  // Clock), 0 for now.
  void print(const std::string& source, const OrvMIDIMessageList& messages, uint64_t arrival) {
    const Clock::time_point at =
        arrival ? Clock::time_point(std::chrono::nanoseconds(arrival)) : Clock::now();
    const double time = std::max(0.0, std::chrono::duration<double>(at - start_).count());
    std::lock_guard lock(mutex_);
    for (const auto& message : messages) {
      if (message && filter_.passes(*message)) printLine(source, *message, time);
    }
    out_.flush();
    if (!out_) closed_ = true;
  }

  void notice(const std::string& text) {
    std::lock_guard lock(mutex_);
    err_ << "wexmidi monitor: " << text << "\n";
  }

  // Whether a write failed: nobody reads standard output any more.
  bool closed() const { return closed_; }

 private:
  void printLine(const std::string& source, const OrvMIDIMessage& message, double time) {
    line_.clear();
    if (options_.json) {
      nlohmann::ordered_json json = {{"time", std::round(time * 1e6) / 1e6}, {"source", source}};
      MessageJSON::append(json, message, options_.hex);
      line_ = json.dump();
    } else {
      if (options_.time) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.6f\t", time);
        line_ += stamp;
      }
      line_ += source;
      line_ += '\t';
      MessageFormat::appendValue(line_, message);
      line_ += '\t';
      if (options_.hex) {
        MessageFormat::appendHex(line_, message);
        line_ += '\t';
      }
      MessageFormat::appendText(line_, message);
    }
    line_ += '\n';
    out_ << line_;
  }

  std::ostream& out_;
  std::ostream& err_;
  const LineOptions options_;
  const MessageFilter filter_;
  const Clock::time_point start_ = Clock::now();
  std::mutex mutex_;
  std::string line_;
  std::atomic<bool> closed_{false};
};

}  // namespace

CLI::App* MonitorCommand::add(CLI::App& program) {
  CLI::App* command = program.add_subcommand(
      "monitor",
      "Print the MIDI messages that arrive from the sources, one line each: the source's name, "
      "the message value and its text, separated by tabs");
  command
      ->add_option("--source", sources_,
                   "Listen to this source only (repeatable): its exact name, or a part of one "
                   "name in any case (with --midi alsa also client:port, or a client's name). "
                   "By default every source, including those that appear while the monitor runs")
      ->allow_extra_args(false);
  command->add_flag("--json", json_,
                    "One JSON object per message: time, source, value, type, channel, data1 and "
                    "data2 (or sysex), hex (with --hex), text");
  command->add_flag("--time", time_,
                    "Start each line with the time the message arrived, in seconds since the "
                    "monitor started (to the microsecond): on JACK the time JACK gives its "
                    "event, elsewhere the time the monitor received it");
  command->add_flag("--hex", hex_,
                    "Show the bytes of each message in hex, as decode reads them, after its value");
  command
      ->add_option("--channel", channel_,
                   "Only channel messages on this channel, 1 to 16 as musicians count (system "
                   "messages have no channel and still show)")
      ->check(CLI::Range(1, 16));
  command
      ->add_option("--type", types_,
                   "Only messages of this kind (repeatable): " + MessageFilter::kindNames())
      ->allow_extra_args(false);
  command->add_flag("--no-clock", noClock_, "Leave out clock messages");
  command->add_flag("--no-active-sensing", noActiveSensing_, "Leave out active sensing messages");
  command->add_option("--for", seconds_, "Stop after this many seconds (default: until Ctrl-C)")
      ->check(RunOptions::finiteRange(0, RunOptions::kMaxSeconds, "a number of seconds"));
  return command;
}

int MonitorCommand::run(ProgramContext& context) {
  MessageFilter filter;
  for (const auto& type : types_) {
    std::string reason;
    if (!filter.addKind(type, &reason)) {
      context.err() << "wexmidi monitor: --type: " << reason << "\n";
      return 2;
    }
  }
  if (channel_ > 0) filter.setChannel(channel_);
  if (noClock_) filter.leaveOut(0xF8);
  if (noActiveSensing_) filter.leaveOut(0xFE);

  auto services = context.startMIDIServices();
  if (!services) return 1;
  MessagePrinter printer(context.out(), context.err(), {json_, time_, hex_}, std::move(filter));
  SourceFollower follower(
      *services, [&printer](const std::string& source, const OrvMIDIMessageList& messages,
                            uint64_t arrival) { printer.print(source, messages, arrival); });
  std::string reason;
  if (!follower.open(&reason)) {
    context.err() << "wexmidi monitor: " << reason << "\n";
    return 1;
  }
  const std::vector<std::string> names = follower.sourceNames();
  std::vector<size_t> rows;
  for (const auto& wanted : context.endpointNames(sources_, true)) {
    const auto matched = EndpointChooser::match(names, wanted, "source", &reason);
    if (matched.empty()) {
      context.err() << "wexmidi monitor: " << reason << "\n";
      return 1;
    }
    rows.insert(rows.end(), matched.begin(), matched.end());
  }
  // Said once connected, so that what is sent after the notice is heard.
  std::string listening;
  if (sources_.empty()) {
    for (const auto& name : names) listening += (listening.empty() ? "" : ", ") + name;
    follower.followAll([&printer](const std::string& source, bool came) {
      printer.notice((came ? "source appeared: " : "source went away: ") + source);
    });
    printer.notice("listening to " + (listening.empty() ? "no sources" : listening) +
                   ", and to the sources that appear");
  } else {
    for (size_t row : rows) listening += (listening.empty() ? "" : ", ") + names[row];
    follower.listenTo(rows);
    printer.notice("listening to " + listening);
  }

  InterruptWatch interrupts;
  const auto end = seconds_ < 0 ? Clock::time_point::max()
                                : Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds_));
  while (!InterruptWatch::interrupted() && !printer.closed() && !context.outputReaderGone() &&
         Clock::now() < end) {
    if (isMainThread()) {
      MainThread::runPendingTasks(std::chrono::milliseconds(10));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    follower.update();
  }
  return 0;
}

}  // namespace wex
