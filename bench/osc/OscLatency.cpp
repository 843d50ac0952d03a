// MIDI in to OSC out on the loopback, beside MIDI in to a --watch line: a
// note fed into a MIDI source of the embedded services reaches a receiver
// patch, and its output goes out both ways, as `wexmidi run --osc-out ...
// --watch rx.outputMessages` sends it. Prints the median and the 99th
// percentile over 1,000 messages, in milliseconds.
#include <lo/lo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "app/JsonLineOutput.h"
#include "app/PortWatcher.h"
#include "host/Composition.h"
#include "host/PlugInRegistry.h"
#include "host/Structure.h"
#include "osc/OscSender.h"
#include "patches/WexPatches.h"
#include "services/embedded/EmbeddedMIDIServices.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kMessages = 1000;

// Notes the time each line that carries messages ends (a receiver's output
// is empty at the evaluation after a message).
class LineTimes : public std::streambuf {
 public:
  Clock::time_point waitForLine(size_t number) {
    while (true) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (times_.size() >= number) return times_[number - 1];
      }
      std::this_thread::yield();
    }
  }

 protected:
  int_type overflow(int_type c) override {
    if (c != '\n') {
      line_ += static_cast<char>(c);
      return c;
    }
    if (line_.find("\"value\":[]") == std::string::npos) {
      std::lock_guard<std::mutex> lock(mutex_);
      times_.push_back(Clock::now());
    }
    line_.clear();
    return c;
  }
  std::streamsize xsputn(const char* s, std::streamsize n) override {
    for (std::streamsize i = 0; i < n; ++i) overflow(s[i]);
    return n;
  }

 private:
  std::string line_;  // the writer's thread
  std::mutex mutex_;
  std::vector<Clock::time_point> times_;
};

std::atomic<int> oscArrivals{0};
std::vector<Clock::time_point> oscTimes(kMessages * 4);

int onOsc(const char*, const char* types, lo_arg**, int, lo_message, void*) {
  if (types[0] == LO_MIDI) oscTimes[oscArrivals.fetch_add(1)] = Clock::now();
  return 0;
}

double milliseconds(Clock::duration duration) {
  return std::chrono::duration<double, std::milli>(duration).count();
}

void report(const char* path, std::vector<double> latencies) {
  std::sort(latencies.begin(), latencies.end());
  std::printf("%-26s median %.3f ms   p99 %.3f ms   max %.3f ms\n", path,
              latencies[latencies.size() / 2], latencies[latencies.size() * 99 / 100],
              latencies.back());
}

}  // namespace

int main() {
  using namespace wex;
  auto services = std::make_shared<EmbeddedMIDIServices>();
  installMIDIServices(services);
  const MIDIEndpointRef keyboard = services->createDeviceSource("bench keyboard");

  lo_server_thread server = lo_server_thread_new_with_proto(nullptr, LO_UDP, nullptr);
  lo_server_thread_add_method(server, nullptr, nullptr, onOsc, nullptr);
  lo_server_thread_start(server);

  PlugInRegistry registry;
  registerWexPatches(registry);
  {
    Composition composition(registry);
    composition.addPatch("rx", "MIDI_ReceiverPlugIn");
    OscSender sender({OscTarget{"127.0.0.1", std::to_string(lo_server_thread_get_port(server))}});
    std::string reason;
    sender.start(&reason);
    PortWatcher toOsc(composition, [&sender](double, const std::vector<PortWatcher::Change>& all) {
      std::vector<OscSender::Change> changes;
      for (const auto& change : all) {
        if (change.value.isStructure() && change.value.asStructure()->count() == 0) continue;
        changes.push_back({"/wexmidi/rx/outputMessages", change.value, true});
      }
      sender.post(std::move(changes));
    });
    toOsc.add("rx.outputMessages", &reason);
    LineTimes lines;
    std::ostream out(&lines);
    JsonLineOutput json(out);
    PortWatcher toJson(composition, PortWatcher::jsonLines(json));
    toJson.add("rx.outputMessages", &reason);
    composition.setTickObserver([&](double time) {
      toOsc.tick(time);
      toJson.tick(time);
    });
    composition.start(60);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    std::vector<double> oscLatencies, watchLatencies;
    for (int i = 0; i < kMessages; ++i) {
      const auto sent = Clock::now();
      services->feedSourceBytes(keyboard, {0x90, static_cast<Byte>(i % 128), 100});
      while (oscArrivals.load() <= i) std::this_thread::yield();
      oscLatencies.push_back(milliseconds(oscTimes[i] - sent));
      watchLatencies.push_back(milliseconds(lines.waitForLine(i + 1) - sent));
      std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    composition.stop();
    composition.setTickObserver(nullptr);
    sender.stop();
    report("MIDI in to OSC out", oscLatencies);
    report("MIDI in to a --watch line", watchLatencies);
  }
  lo_server_thread_free(server);
  return 0;
}
