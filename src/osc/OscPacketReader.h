#pragma once

#include <lo/lo.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "osc/OscRequest.h"

namespace wex {

// Reads one OSC packet (a message, or a bundle of them, nested at most
// kMaxBundleDepth deep) into requests: /wexmidi/PATCH/PORT ARGS sets the
// input PORT of PATCH, with the arguments as JSON (T/F true and false, i and
// h integers, f and d numbers, s, S and c text, N null, m a message number, a
// blob of one system exclusive message its sysex string; several arguments
// make a list). /wexmidi/send takes MIDI (m) and blob arguments, each one
// message's bytes. Everything else is refused with its cause; liblo reads the
// messages themselves.
class OscPacketReader {
 public:
  static constexpr int kMaxBundleDepth = 8;
  static constexpr const char* kPrefix = "/wexmidi/";
  static constexpr const char* kSendAddress = "/wexmidi/send";

  static void read(const uint8_t* data, size_t size, std::vector<OscRequest>* requests,
                   std::vector<OscRefusal>* refusals);

 private:
  static void readElement(const uint8_t* data, size_t size, int depth,
                          std::vector<OscRequest>* requests, std::vector<OscRefusal>* refusals);
  static void readBundle(const uint8_t* data, size_t size, int depth,
                         std::vector<OscRequest>* requests, std::vector<OscRefusal>* refusals);
  static void readMessage(const uint8_t* data, size_t size, std::vector<OscRequest>* requests,
                          std::vector<OscRefusal>* refusals);
  // The request of a message that liblo has read; false with the cause.
  static bool request(const std::string& address, lo_message message, OscRequest* request,
                      std::string* cause);
  static bool setValue(lo_message message, ValueJSON::Json* value, std::string* cause);
  static bool sendMessages(lo_message message, std::vector<std::vector<uint8_t>>* messages,
                           std::string* cause);
};

}  // namespace wex
