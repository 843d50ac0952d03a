#include "services/alsa/AlsaEventCoder.h"

#include <new>

namespace wex {

namespace {

// The longest message other than a sysex piece is three bytes.
constexpr size_t kDecodeRoom = 16;

}  // namespace

AlsaEventCoder::AlsaEventCoder() {
  if (snd_midi_event_new(kSysexPiece, &encoder_) < 0 || snd_midi_event_new(0, &decoder_) < 0) {
    if (encoder_) snd_midi_event_free(encoder_);
    throw std::bad_alloc();
  }
  snd_midi_event_no_status(decoder_, 1);
}

AlsaEventCoder::~AlsaEventCoder() {
  snd_midi_event_free(encoder_);
  snd_midi_event_free(decoder_);
}

bool AlsaEventCoder::encode(const Byte* data, size_t length, const Emit& emit) {
  for (size_t i = 0; i < length; ++i) {
    snd_seq_event_t event;
    snd_seq_ev_clear(&event);
    if (snd_midi_event_encode_byte(encoder_, data[i], &event) == 1 &&
        event.type != SND_SEQ_EVENT_NONE && !emit(event)) {
      return false;
    }
  }
  return true;
}

bool AlsaEventCoder::decode(const snd_seq_event_t& event, std::vector<Byte>* out) {
  if (event.type == SND_SEQ_EVENT_SYSEX) {
    const auto* bytes = static_cast<const Byte*>(event.data.ext.ptr);
    if (!bytes || event.data.ext.len == 0) return false;
    out->insert(out->end(), bytes, bytes + event.data.ext.len);
    return true;
  }
  unsigned char buffer[kDecodeRoom];
  snd_midi_event_reset_decode(decoder_);
  const long written = snd_midi_event_decode(decoder_, buffer, sizeof buffer, &event);
  if (written <= 0) return false;
  out->insert(out->end(), buffer, buffer + written);
  return true;
}

}  // namespace wex
