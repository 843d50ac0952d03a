#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDITypes.h"

namespace wex {

class MIDIServices;

// Listens to MIDI sources through one input port of its own, parsing each
// source's bytes apart (a sysex message from one never mixes with another's)
// and telling which source each message came from. It listens either to a
// chosen set of sources or to all of them, following the sources that come
// and go while it runs.
class SourceFollower {
 public:
  // On the services' reading thread: the source's name, its messages and
  // when they arrived (nanoseconds of std::chrono::steady_clock; 0 when the
  // services do not say).
  using MessageHandler = std::function<void(const std::string& source,
                                            const OrvMIDIMessageList& messages, uint64_t arrival)>;
  // On the thread calling update(): "NAME" came (true) or went (false).
  using ChangeHandler = std::function<void(const std::string& source, bool came)>;

  SourceFollower(MIDIServices& services, MessageHandler onMessages);
  // Ends the listening; no handler runs after it.
  ~SourceFollower();
  SourceFollower(const SourceFollower&) = delete;
  SourceFollower& operator=(const SourceFollower&) = delete;

  // Makes the client and its port; false, with the reason, when the services refuse.
  bool open(std::string* reason);
  // The names of the sources now, in the services' order.
  std::vector<std::string> sourceNames();
  // Listens to the sources at these rows of sourceNames(), and to no others.
  void listenTo(const std::vector<size_t>& rows);
  // Listens to every source, now and whenever the setup changes.
  void followAll(ChangeHandler onChange);
  // After a setup change, connects the sources that came and lets go of
  // those that went (only when following all). Call it now and then.
  void update();

 private:
  class Listener;
  static void readProc(const MIDIPacketList* list, void* refCon, void* connRefCon);
  static void notifyProc(const MIDINotification* message, void* refCon);
  void connect(MIDIEndpointRef source, const std::string& name);
  std::string nameOf(MIDIEndpointRef source);

  MIDIServices& services_;
  MessageHandler onMessages_;
  ChangeHandler onChange_;
  bool followingAll_ = false;
  MIDIClientRef client_ = 0;
  MIDIPortRef port_ = 0;
  std::atomic<bool> setupChanged_{false};
  std::map<MIDIEndpointRef, std::unique_ptr<Listener>> listeners_;
  // Listeners of sources that went: a callback may still hold one until the
  // client is disposed.
  std::vector<std::unique_ptr<Listener>> departed_;
};

}  // namespace wex
