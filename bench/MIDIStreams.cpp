#include "MIDIStreams.h"

#include <algorithm>
#include <random>

#include "services/MIDIPacketList.h"

namespace wex::bench {

namespace {

class StreamWriter {
 public:
  StreamWriter(std::vector<Byte>& out, uint32_t seed) : out_(out), random_(seed) {}

  void message(const StreamMix& mix) {
    if (chance(mix.sysexShare)) return sysex(mix.sysexMinLength, mix.sysexMaxLength);
    const int kind = below(100);
    const Byte channel = static_cast<Byte>(below(16));
    if (kind < 33) return put({Byte(0x90 | channel), data(), Byte(1 + below(127))});
    if (kind < 66) return put({Byte(0x80 | channel), data(), data()});
    if (kind < 81) return put({Byte(0xB0 | channel), data(), data()});
    if (kind < 88) return put({Byte(0xE0 | channel), data(), data()});
    if (kind < 91) return put({Byte(0xC0 | channel), data()});
    put({0xF8});
  }

 private:
  void sysex(int minLength, int maxLength) {
    const int length = minLength + below(maxLength - minLength + 1);  // with F0 and F7
    out_.push_back(0xF0);
    for (int i = 2; i < length; ++i) {
      if (chance(0.02)) out_.push_back(0xF8);
      out_.push_back(data());
    }
    out_.push_back(0xF7);
  }

  void put(std::initializer_list<Byte> bytes) { out_.insert(out_.end(), bytes); }
  Byte data() { return static_cast<Byte>(below(128)); }
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(random_); }

  std::vector<Byte>& out_;
  std::mt19937 random_;
};

}  // namespace

std::vector<Byte> generateStream(const StreamMix& mix) {
  std::vector<Byte> stream;
  StreamWriter writer(stream, mix.seed);
  for (size_t i = 0; i < mix.messages; ++i) writer.message(mix);
  return stream;
}

std::vector<std::vector<Byte>> cutIntoPacketLists(const std::vector<Byte>& stream, uint32_t seed,
                                                  ByteCount listSize) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<size_t> packetLength(1, 128);
  std::vector<std::vector<Byte>> lists;
  std::vector<Byte> list(listSize);
  auto* pktlist = reinterpret_cast<MIDIPacketList*>(list.data());
  MIDIPacket* current = MIDIPacketListInit(pktlist);
  ByteCount used = kMIDIPacketListHeaderSize;
  auto finishList = [&] {
    lists.emplace_back(list.begin(), list.begin() + used);
    current = MIDIPacketListInit(pktlist);
    used = kMIDIPacketListHeaderSize;
  };
  for (size_t at = 0; at < stream.size();) {
    if (listSize - used < kMIDIPacketHeaderSize + 1) finishList();
    const size_t room = listSize - used - kMIDIPacketHeaderSize;
    const size_t length = std::min({packetLength(random), room, stream.size() - at});
    current = MIDIPacketListAddPacket(pktlist, listSize, current, 0, length, &stream[at]);
    used += kMIDIPacketHeaderSize + length;
    at += length;
  }
  if (used > kMIDIPacketListHeaderSize) finishList();
  return lists;
}

std::vector<std::vector<Byte>> cutIntoMessageLists(const std::vector<Byte>& stream) {
  std::vector<std::vector<Byte>> lists;
  for (size_t start = 0; start < stream.size();) {
    size_t end = start + 1;
    while (end < stream.size() && stream[end] < 0x80) ++end;
    std::vector<Byte> list(kMIDIPacketListHeaderSize + kMIDIPacketHeaderSize + (end - start));
    MIDIPacket* packet = MIDIPacketListInit(reinterpret_cast<MIDIPacketList*>(list.data()));
    MIDIPacketListAddPacket(reinterpret_cast<MIDIPacketList*>(list.data()), list.size(), packet, 0,
                            end - start, &stream[start]);
    lists.push_back(std::move(list));
    start = end;
  }
  return lists;
}

}  // namespace wex::bench
