#include "midi/OrvMIDIReadProc.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

#include "midi/OrvMIDIMessage.h"
#include "midi/OrvMIDIReadTarget.h"
#include "services/MIDIPacketList.h"
#include "services/MIDIStatus.h"

namespace wex {

namespace {

// The output list of the callbacks on this thread, kept so that its room is
// reused rather than allocated for every callback. A callback takes it over
// (a nested one finds it empty and makes its own) and gives it back empty.
thread_local OrvMIDIMessageList tOutputList;

// Where the time stamp changes in the output list of the callback running on
// this thread: the index of the first message of each packet whose stamp
// differs from the packet's before, and that stamp.
struct ArrivalMark {
  size_t first;
  MIDITimeStamp time;
};
using ArrivalMarks = std::vector<ArrivalMark>;
thread_local ArrivalMarks tArrivalMarks;
thread_local const ArrivalMarks* tHandingOver = nullptr;

// The state of one callback, with the node's system exclusive state copied in
// at the start and written back at the end.
class ReadPass {
 public:
  explicit ReadPass(OrvMIDIReadTarget& target)
      : target_(target),
        open_(target.processingSysex()),
        count_(target.processingSysexIterationCount()),
        accumulator_(target.sysexArray()) {
    output_.swap(tOutputList);
    marks_.swap(tArrivalMarks);
    marks_.clear();
  }

  ~ReadPass() {
    output_.clear();
    if (output_.capacity() > tOutputList.capacity()) output_.swap(tOutputList);
    if (marks_.capacity() > tArrivalMarks.capacity()) marks_.swap(tArrivalMarks);
  }

  // Each packet's messages arrived at its time stamp.
  void beginPacket(MIDITimeStamp time) {
    if (marks_.empty() || marks_.back().time != time) marks_.push_back({output_.size(), time});
  }

  void beginCallback() {
    if (!open_) return;
    if (count_ < std::numeric_limits<int32_t>::max()) ++count_;
    if (count_ > kMaxSysexCallbacks) abandonSysex();
  }

  // Takes the byte at `at`, and in a sysex the data bytes after it up to
  // `end`; returns where the next byte is.
  const Byte* step(const Byte* at, const Byte* end) {
    const Byte b = *at;
    if (isMIDIStatus(b)) {
      statusByte(b);
    } else if (current_) {
      dataByte(b);
    } else if (open_) {
      return accumulateSysex(at, end);
    }
    return at + 1;
  }

  void finish() {
    target_.setProcessingSysex(open_);
    target_.setProcessingSysexIterationCount(count_);
    if (output_.empty()) return;
    const ArrivalMarks* outer = std::exchange(tHandingOver, &marks_);
    target_.receivedMIDI(output_);
    tHandingOver = outer;
  }

 private:
  void statusByte(Byte b) {
    if (isMIDIRealtime(b)) {
      // Realtime messages may fall anywhere, inside a sysex or between the
      // bytes of another message, and interrupt nothing.
      output_.push_back(OrvMIDIMessage::createWithType(b, 0));
      return;
    }
    if (b == kMIDISysexEnd) {
      endSysex();
      return;
    }
    // Any other status byte ends an unfinished sysex without delivering it.
    if (open_) abandonSysex();
    if (b == kMIDISysexStart) {
      accumulator_.clear();
      open_ = true;
      count_ = 0;
      current_ = nullptr;
    } else if (b < kMIDIFirstSystem) {
      begin(OrvMIDIMessage::createWithType(b & kMIDIKindMask, b & kMIDIChannelMask));
    } else {
      begin(OrvMIDIMessage::createWithType(b, 0));
    }
  }

  // A data byte of the current message. current_ is null while a sysex is
  // open, so that a data byte finds its place with one test.
  void dataByte(Byte b) {
    if (dataCount_ == 0) {
      current_->setData1(b);
      dataCount_ = 1;
    } else if (dataCount_ == 1) {
      current_->setData2(b);
      // A note on with velocity 0 is a note off.
      if (b == 0 && current_->type() == kMIDINoteOn) current_->setType(kMIDINoteOff);
      dataCount_ = 2;
    }
  }

  // The data bytes from `at` up to the next status byte or `end`, at once.
  const Byte* accumulateSysex(const Byte* at, const Byte* end) {
    const Byte* runEnd = at;
    while (runEnd != end && !isMIDIStatus(*runEnd)) ++runEnd;
    accumulator_.insert(accumulator_.end(), at, runEnd);
    return runEnd;
  }

  void begin(OrvMIDIMessagePtr message) {
    current_ = message.get();
    dataCount_ = 0;
    output_.push_back(std::move(message));
  }

  void endSysex() {
    current_ = nullptr;
    if (!open_) return;
    open_ = false;
    count_ = 0;
    if (auto message = OrvMIDIMessage::createWithParsedSysex(accumulator_)) {
      output_.push_back(std::move(message));
    }
  }

  void abandonSysex() {
    open_ = false;
    count_ = 0;
    accumulator_.clear();
  }

  OrvMIDIReadTarget& target_;
  bool open_;
  int32_t count_;
  std::vector<int32_t>& accumulator_;
  OrvMIDIMessageList output_;
  ArrivalMarks marks_;
  // The message that following data bytes go into; owned by output_.
  OrvMIDIMessage* current_ = nullptr;
  int dataCount_ = 0;
};

}  // namespace

void myMIDIReadProc(const MIDIPacketList* pktlist, void* readProcRefCon, void* /*srcConnRefCon*/) {
  auto* target = static_cast<OrvMIDIReadTarget*>(readProcRefCon);
  if (!target || !pktlist) return;
  ReadPass pass(*target);
  pass.beginCallback();
  MIDIPacketIterator packets(pktlist);
  MIDIPacketView packet;
  while (packets.next(packet)) {
    pass.beginPacket(packet.timeStamp);
    const Byte* end = packet.data + packet.length;
    for (const Byte* at = packet.data; at != end;) at = pass.step(at, end);
  }
  pass.finish();
}

MIDITimeStamp readArrivalOf(size_t index) {
  if (!tHandingOver) return 0;
  const ArrivalMarks& marks = *tHandingOver;
  // The last mark at or before the index.
  const auto after =
      std::upper_bound(marks.begin(), marks.end(), index,
                       [](size_t at, const ArrivalMark& mark) { return at < mark.first; });
  return after == marks.begin() ? 0 : std::prev(after)->time;
}

}  // namespace wex
