#pragma once

#include "services/MIDIServices.h"

namespace wex::bench {

// MIDI services that accept every call and drop what is sent, so that a
// benchmark measures the sender's own work and nothing of a backend.
class SinkMIDIServices final : public MIDIServices {
 public:
  OSStatus MIDIClientCreate(const std::string&, MIDINotifyProc, void*,
                            MIDIClientRef* outClient) override {
    *outClient = 1;
    return noErr;
  }
  OSStatus MIDIClientDispose(MIDIClientRef) override { return noErr; }
  OSStatus MIDIInputPortCreate(MIDIClientRef, const std::string&, MIDIReadProc, void*,
                               MIDIPortRef* outPort) override {
    *outPort = 2;
    return noErr;
  }
  OSStatus MIDIOutputPortCreate(MIDIClientRef, const std::string&, MIDIPortRef* outPort) override {
    *outPort = 3;
    return noErr;
  }
  OSStatus MIDIPortConnectSource(MIDIPortRef, MIDIEndpointRef, void*) override { return noErr; }
  OSStatus MIDIPortDisconnectSource(MIDIPortRef, MIDIEndpointRef) override { return noErr; }
  OSStatus MIDIDestinationCreate(MIDIClientRef, const std::string&, MIDIReadProc, void*,
                                 MIDIEndpointRef* outDest) override {
    *outDest = 4;
    return noErr;
  }
  OSStatus MIDISourceCreate(MIDIClientRef, const std::string&, MIDIEndpointRef* outSrc) override {
    *outSrc = 5;
    return noErr;
  }
  OSStatus MIDIObjectGetStringProperty(MIDIObjectRef, const std::string&,
                                       std::optional<std::string>* str) override {
    *str = "sink";
    return noErr;
  }
  OSStatus MIDIObjectGetIntegerProperty(MIDIObjectRef, const std::string&,
                                        int32_t* outValue) override {
    *outValue = 1;
    return noErr;
  }
  ItemCount MIDIGetNumberOfSources() override { return 0; }
  MIDIEndpointRef MIDIGetSource(ItemCount) override { return 0; }
  ItemCount MIDIGetNumberOfDestinations() override { return 1; }
  MIDIEndpointRef MIDIGetDestination(ItemCount index) override { return index == 0 ? 6 : 0; }
  OSStatus MIDISend(MIDIPortRef, MIDIEndpointRef, const MIDIPacketList* pktlist) override {
    lastSent_ = pktlist;
    return noErr;
  }
  OSStatus MIDIReceived(MIDIEndpointRef, const MIDIPacketList* pktlist) override {
    lastSent_ = pktlist;
    return noErr;
  }
  bool waitUntilDelivered(double) override { return true; }

  const MIDIPacketList* lastSent() const { return lastSent_; }

 private:
  const MIDIPacketList* lastSent_ = nullptr;
};

}  // namespace wex::bench
