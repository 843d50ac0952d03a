#include "app/OscBridge.h"

#include <cstdio>

#include "app/ProgramContext.h"
#include "app/SendArguments.h"
#include "osc/OscValueWriter.h"
#include "server/CompositionCommands.h"
#include "support/SystemLog.h"

namespace wex {

namespace {

std::string hexText(const std::vector<uint8_t>& bytes) {
  std::string text;
  char digits[4];
  for (const uint8_t byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X ", byte);
    text += digits;
  }
  return text;
}

std::string plural(uint64_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

}  // namespace

int OscBridge::start(ProgramContext& context, const Options& options,
                     DestinationSender* destinations) {
  const std::string prefix = "wexmidi " + command_ + ": ";
  if (options.targets.empty() && !options.watches.empty()) {
    context.err() << prefix << "--osc-watch needs --osc-out, the place to send to\n";
    return 2;
  }
  std::vector<OscTarget> targets;
  std::string reason;
  for (const auto& text : options.targets) {
    OscTarget target;
    if (!OscTarget::parse(text, &target, &reason)) {
      context.err() << prefix << "--osc-out " << reason << "\n";
      return 2;
    }
    targets.push_back(target);
  }
  if (!targets.empty()) {
    watcher_ = std::make_unique<PortWatcher>(
        composition_,
        [this](double, const std::vector<PortWatcher::Change>& changes) { post(changes); });
    for (const auto& spec : options.watches) {
      if (!watcher_->add(spec, &reason)) {
        context.err() << prefix << "--osc-watch " << spec << ": " << reason << "\n";
        return 2;
      }
    }
    if (options.watches.empty()) watcher_->addEverything();
    sender_ = std::make_unique<OscSender>(std::move(targets));
    if (!sender_->start(&reason)) {
      context.err() << prefix << "--osc-out: " << reason << "\n";
      return 1;
    }
  }
  if (!options.listen.empty()) {
    std::string host, port;
    if (!OscReceiver::parsePlace(options.listen, &host, &port)) {
      context.err() << prefix << "--osc-in expected PORT or HOST:PORT (PORT 0 to 65535), got \""
                    << options.listen << "\"\n";
      return 2;
    }
    receiver_ = std::make_unique<OscReceiver>();
    if (!receiver_->start(options.listen, &reason)) {
      context.err() << prefix << "--osc-in: " << reason << "\n";
      return 1;
    }
    destinations_ = destinations;
    if (!destinations_) {
      ownDestinations_ = std::make_unique<DestinationSender>();
      destinations_ = ownDestinations_.get();
    }
    context.err() << prefix << "OSC in on " << receiver_->url() << std::endl;
  }
  return 0;
}

void OscBridge::tick(double time) {
  if (watcher_) watcher_->tick(time);
}

void OscBridge::post(const std::vector<PortWatcher::Change>& changes) {
  std::vector<OscSender::Change> out;
  out.reserve(changes.size());
  for (const auto& change : changes) {
    out.push_back({"/wexmidi/" + change.patchId + "/" + change.key, change.value,
                   OscValueWriter::carriesMessages(change.key)});
  }
  sender_->post(std::move(out));
}

void OscBridge::performWaiting() {
  if (!receiver_) return;
  std::vector<OscRequest> requests;
  std::vector<OscRefusal> refusals;
  receiver_->take(&requests, &refusals);
  // Counted by the receiver; said here.
  for (const auto& refusal : refusals) logRefusal(refusal.address, refusal.cause);
  for (const auto& request : requests) perform(request);
}

void OscBridge::perform(const OscRequest& request) {
  if (request.kind == OscRequest::Kind::Send) {
    send(request);
    return;
  }
  try {
    CompositionCommands::setInput(composition_, request.input, request.value);
  } catch (const CommandError& error) {
    refuse(request.address, error.what());
  }
}

void OscBridge::send(const OscRequest& request) {
  std::vector<SendArguments::Argument> arguments;
  for (const auto& bytes : request.messages) {
    arguments.push_back({SendArguments::Kind::Hex, hexText(bytes)});
  }
  const SendArguments read(arguments);
  if (!read.refusals().empty()) {
    refuse(request.address, read.refusals().front());
    return;
  }
  std::vector<std::string> chosen;
  std::string reason;
  if (!destinations_->send(read.messages(), {}, &chosen, &reason)) refuse(request.address, reason);
}

void OscBridge::refuse(const std::string& address, const std::string& cause) {
  ++refusedHere_;
  logRefusal(address, cause);
}

void OscBridge::logRefusal(const std::string& address, const std::string& cause) {
  if (logged_.size() > kMostLoggedRefusals || !logged_.emplace(address, cause).second) return;
  if (logged_.size() > kMostLoggedRefusals) {
    SystemLog::write("\tOSC in: refusals of more addresses and causes are counted, not logged");
  } else if (address.empty()) {
    SystemLog::write("\tOSC in: refused a packet: " + cause);
  } else {
    SystemLog::write("\tOSC in: refused " + address + ": " + cause);
  }
}

void OscBridge::stop(ProgramContext& context) {
  const std::string prefix = "wexmidi " + command_ + ": ";
  if (receiver_) {
    receiver_->stop();
    const uint64_t refused = receiver_->refused() + refusedHere_;
    if (refused > 0) {
      context.err() << prefix << "--osc-in refused " << plural(refused, "message", "messages")
                    << " (the log above says why)\n";
    }
    if (receiver_->dropped() > 0) {
      context.err() << prefix << "--osc-in dropped "
                    << plural(receiver_->dropped(), "message", "messages")
                    << ": they came faster than the composition took them\n";
    }
  }
  if (sender_) {
    sender_->stop();
    if (sender_->dropped() > 0) {
      context.err() << prefix << "--osc-out dropped "
                    << plural(sender_->dropped(), "change", "changes")
                    << ": the queue was full (the log above says why)\n";
    }
    if (sender_->unsent() > 0) {
      context.err() << prefix << "--osc-out could not send "
                    << plural(sender_->unsent(), "message", "messages")
                    << " (the log above says why)\n";
    }
  }
}

}  // namespace wex
