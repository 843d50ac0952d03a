#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "midi/FeedbackWatch.h"
#include "midi/OrvMIDIMessage.h"
#include "midi/SoundingNotes.h"
#include "services/MIDIPacketListAppender.h"

namespace wex {

// Packs one send's messages into a packet list and keeps, as it goes, what
// the send changes once the list has gone out: the messages that concern
// the sounding notes and the fingerprints for the feedback watch. Nothing
// of a send that fails reaches either. A sender node's, used under its
// sending lock.
class SendPacker {
 public:
  // Events a list can hold at most: each takes a byte.
  static constexpr size_t kMaxEvents = 1024;

  // Appends the messages in order to the list at `time` (0: now), null ones
  // skipped, short ones joining the open packet. Returns the first message
  // that does not fit (the ones before it are in the list), or null when all
  // did. The list starts empty.
  // Forgets what an earlier pack kept.
  const OrvMIDIMessage* pack(const OrvMIDIMessagePtr* begin, const OrvMIDIMessagePtr* end,
                             MIDIPacketListAppender& appender, MIDITimeStamp time = 0);

  // After the list went out: its messages' notes, and its messages to the
  // feedback watch.
  void noteSent(SoundingNotes& notes) const {
    notes.notesWentOut(noteWires_.data(), noteMessages_);
  }
  void reportSent(const std::string& destination) const {
    FeedbackWatch::shared().sent(destination, prints_.data(), printsWritten_);
  }

 private:
  // Appends a message the run has no room for (a sysex, the first of a
  // packet, the last bytes of the list) the ordinary way; false when it does
  // not fit.
  [[gnu::noinline]] static bool packSlowly(const OrvMIDIMessage& msg,
                                           MIDIPacketListAppender& appender, MIDITimeStamp time);

  size_t noteMessages_ = 0;
  // Their wire bytes, and one more entry that the packing loop may write.
  std::array<uint32_t, kMaxEvents + 1> noteWires_;
  size_t printsWritten_ = 0;
  // One per message packed.
  std::array<uint64_t, kMaxEvents> prints_;
};

}  // namespace wex
