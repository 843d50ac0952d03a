#pragma once

#include <cstddef>
#include <cstdint>

// The types of the MIDI services contract, with the platform's names.
namespace wex {

using OSStatus = int32_t;
using Byte = uint8_t;
using ByteCount = size_t;
using ItemCount = size_t;
using MIDITimeStamp = uint64_t;

using MIDIObjectRef = uint32_t;
using MIDIClientRef = MIDIObjectRef;
using MIDIPortRef = MIDIObjectRef;
using MIDIEndpointRef = MIDIObjectRef;

constexpr OSStatus noErr = 0;
constexpr OSStatus kMIDIInvalidClient = -10830;
constexpr OSStatus kMIDIInvalidPort = -10831;
constexpr OSStatus kMIDIWrongEndpointType = -10832;
constexpr OSStatus kMIDINoConnection = -10833;
constexpr OSStatus kMIDIUnknownEndpoint = -10834;
constexpr OSStatus kMIDIUnknownProperty = -10835;
constexpr OSStatus kMIDIWrongPropertyType = -10836;
constexpr OSStatus kMIDINoCurrentSetup = -10837;
constexpr OSStatus kMIDIMessageSendErr = -10838;
constexpr OSStatus kMIDIServerStartErr = -10839;
constexpr OSStatus kMIDIObjectNotFound = -10842;
constexpr OSStatus kMIDINotPermitted = -10844;

// Endpoint property names.
constexpr const char* kMIDIPropertyName = "name";
constexpr const char* kMIDIPropertyUniqueID = "uniqueID";
// 1 when the endpoint is a hardware port of the machine, 0 otherwise.
constexpr const char* kMIDIPropertyPhysical = "physical";
// 1 while the endpoint cannot be reached (its server went away), 0 otherwise.
constexpr const char* kMIDIPropertyOffline = "offline";

// A packet list is a byte buffer, never a C++ object: a 32-bit packet count,
// then packets of a 64-bit time stamp, a 16-bit length and that many bytes,
// each directly after the one before, in native byte order, without padding.
// Pointers of these two types address such bytes; MIDIPacketList.h reads and
// writes them.
struct MIDIPacketList;
struct MIDIPacket;

constexpr ByteCount kMIDIPacketListHeaderSize = 4;
constexpr ByteCount kMIDIPacketHeaderSize = 10;

using MIDIReadProc = void (*)(const MIDIPacketList* pktlist, void* readProcRefCon,
                              void* srcConnRefCon);

using MIDINotificationMessageID = int32_t;
constexpr MIDINotificationMessageID kMIDIMsgSetupChanged = 1;

struct MIDINotification {
  MIDINotificationMessageID messageID;
  uint32_t messageSize;
};

using MIDINotifyProc = void (*)(const MIDINotification* message, void* refCon);

}  // namespace wex
