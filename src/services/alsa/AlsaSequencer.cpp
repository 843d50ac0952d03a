#include "services/alsa/AlsaSequencer.h"

#include <cerrno>
#include <chrono>
#include <thread>

namespace wex {

namespace {

// Room for bursts: a reader that falls behind loses events only beyond this.
constexpr size_t kInputBufferBytes = 256 * 1024;
constexpr size_t kOutputBufferBytes = 64 * 1024;
constexpr auto kRoomWait = std::chrono::seconds(1);

// alsa-lib prints its complaints to standard error; opening a sequencer that
// is not there is an expected answer and is kept quiet.
void quietErrors(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::unique_ptr<AlsaSequencer> AlsaSequencer::open(const std::string& clientName,
                                                   std::string* error) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { snd_lib_error_set_handler(quietErrors); });
  snd_seq_t* seq = nullptr;
  const int result = snd_seq_open(&seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
  if (result < 0) {
    if (error) *error = std::string("no ALSA sequencer: ") + snd_strerror(result);
    return nullptr;
  }
  snd_seq_set_client_name(seq, clientName.c_str());
  snd_seq_set_input_buffer_size(seq, kInputBufferBytes);
  snd_seq_set_output_buffer_size(seq, kOutputBufferBytes);
  snd_seq_client_pool_t* pool = nullptr;
  snd_seq_client_pool_alloca(&pool);
  if (snd_seq_get_client_pool(seq, pool) == 0) {
    snd_seq_client_pool_set_input_pool(pool, 2000);
    snd_seq_client_pool_set_output_pool(pool, 2000);
    snd_seq_set_client_pool(seq, pool);
  }
  return std::unique_ptr<AlsaSequencer>(new AlsaSequencer(seq));
}

AlsaSequencer::AlsaSequencer(snd_seq_t* seq) : seq_(seq), clientId_(snd_seq_client_id(seq)) {}

AlsaSequencer::~AlsaSequencer() {
  snd_seq_close(seq_);
}

std::string AlsaSequencer::clientName() {
  std::lock_guard lock(mutex_);
  snd_seq_client_info_t* info = nullptr;
  snd_seq_client_info_alloca(&info);
  if (snd_seq_get_client_info(seq_, info) < 0) return {};
  return snd_seq_client_info_get_name(info);
}

std::string fitPortName(const std::string& name) {
  constexpr size_t kMaxBytes = 63;  // and the terminating NUL
  if (name.size() <= kMaxBytes) return name;
  size_t end = kMaxBytes;
  // name[end] is the first byte left out: a continuation byte there means its
  // character began before the cut, and goes with it.
  while (end > 0 && (static_cast<unsigned char>(name[end]) & 0xC0) == 0x80) --end;
  return name.substr(0, end);
}

int AlsaSequencer::createPort(const std::string& name, unsigned capability, unsigned type) {
  std::lock_guard lock(mutex_);
  return snd_seq_create_simple_port(seq_, fitPortName(name).c_str(), capability, type);
}

void AlsaSequencer::deletePort(int port) {
  std::lock_guard lock(mutex_);
  snd_seq_delete_simple_port(seq_, port);
}

bool AlsaSequencer::subscribe(const snd_seq_addr_t& sender, const snd_seq_addr_t& dest) {
  std::lock_guard lock(mutex_);
  snd_seq_port_subscribe_t* subscription = nullptr;
  snd_seq_port_subscribe_alloca(&subscription);
  snd_seq_port_subscribe_set_sender(subscription, &sender);
  snd_seq_port_subscribe_set_dest(subscription, &dest);
  const int result = snd_seq_subscribe_port(seq_, subscription);
  return result == 0 || result == -EBUSY;  // EBUSY: it is there already
}

bool AlsaSequencer::unsubscribe(const snd_seq_addr_t& sender, const snd_seq_addr_t& dest) {
  std::lock_guard lock(mutex_);
  snd_seq_port_subscribe_t* subscription = nullptr;
  snd_seq_port_subscribe_alloca(&subscription);
  snd_seq_port_subscribe_set_sender(subscription, &sender);
  snd_seq_port_subscribe_set_dest(subscription, &dest);
  return snd_seq_unsubscribe_port(seq_, subscription) == 0;
}

bool AlsaSequencer::subscribed(const snd_seq_addr_t& sender, const snd_seq_addr_t& dest) {
  std::lock_guard lock(mutex_);
  snd_seq_port_subscribe_t* subscription = nullptr;
  snd_seq_port_subscribe_alloca(&subscription);
  snd_seq_port_subscribe_set_sender(subscription, &sender);
  snd_seq_port_subscribe_set_dest(subscription, &dest);
  return snd_seq_get_port_subscription(seq_, subscription) == 0;
}

std::vector<AlsaPortInfo> AlsaSequencer::ports() {
  std::lock_guard lock(mutex_);
  std::vector<AlsaPortInfo> result;
  snd_seq_client_info_t* client = nullptr;
  snd_seq_port_info_t* port = nullptr;
  snd_seq_client_info_alloca(&client);
  snd_seq_port_info_alloca(&port);
  snd_seq_client_info_set_client(client, -1);
  while (snd_seq_query_next_client(seq_, client) >= 0) {
    const int clientId = snd_seq_client_info_get_client(client);
    snd_seq_port_info_set_client(port, clientId);
    snd_seq_port_info_set_port(port, -1);
    while (snd_seq_query_next_port(seq_, port) >= 0) {
      AlsaPortInfo info;
      info.client = clientId;
      info.port = snd_seq_port_info_get_port(port);
      info.clientName = snd_seq_client_info_get_name(client);
      info.portName = snd_seq_port_info_get_name(port);
      info.capability = snd_seq_port_info_get_capability(port);
      info.type = snd_seq_port_info_get_type(port);
      result.push_back(std::move(info));
    }
  }
  return result;
}

bool AlsaSequencer::parseAddress(const std::string& text, snd_seq_addr_t* address) {
  std::lock_guard lock(mutex_);
  return snd_seq_parse_address(seq_, address, text.c_str()) == 0;
}

int AlsaSequencer::send(snd_seq_event_t& event, std::chrono::steady_clock::duration roomWait) {
  const auto deadline = std::chrono::steady_clock::now() + roomWait;
  for (;;) {
    int result;
    {
      std::lock_guard lock(mutex_);
      result = snd_seq_event_output_direct(seq_, &event);
    }
    if (result >= 0) return 0;
    if (result != -EAGAIN || std::chrono::steady_clock::now() >= deadline) return result;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

void AlsaSequencer::waitForInputRoom(int cells) {
  if (readingThread_.load(std::memory_order_relaxed) == std::this_thread::get_id()) return;
  const auto deadline = std::chrono::steady_clock::now() + kRoomWait;
  snd_seq_client_pool_t* pool = nullptr;
  snd_seq_client_pool_alloca(&pool);
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (snd_seq_get_client_pool(seq_, pool) < 0) return;
    }
    if (static_cast<int>(snd_seq_client_pool_get_input_free(pool)) >= cells) return;
    if (std::chrono::steady_clock::now() > deadline) return;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
}

std::vector<pollfd> AlsaSequencer::inputDescriptors() {
  std::lock_guard lock(mutex_);
  std::vector<pollfd> descriptors(
      static_cast<size_t>(snd_seq_poll_descriptors_count(seq_, POLLIN)));
  const int count = snd_seq_poll_descriptors(seq_, descriptors.data(),
                                             static_cast<unsigned>(descriptors.size()), POLLIN);
  descriptors.resize(static_cast<size_t>(count < 0 ? 0 : count));
  return descriptors;
}

snd_seq_event_t* AlsaSequencer::readEvent(int* error) {
  *error = 0;
  readingThread_.store(std::this_thread::get_id(), std::memory_order_relaxed);
  snd_seq_event_t* event = nullptr;
  const int result = snd_seq_event_input(seq_, &event);
  if (result < 0) {
    if (result != -EAGAIN) *error = result;
    return nullptr;
  }
  return event;
}

}  // namespace wex
