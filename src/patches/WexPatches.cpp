#include "patches/WexPatches.h"

#include "host/PanelLayouts.h"
#include "host/PlugInRegistry.h"
#include "patches/CCDistributorSettingsController.h"
#include "patches/DistributorSettingsController.h"
#include "patches/EndpointSettingsController.h"
#include "patches/MIDI_14bit_MessagePlugIn.h"
#include "patches/MIDI_CCDistributorPlugIn.h"
#include "patches/MIDI_GroupPlugIn.h"
#include "patches/MIDI_MessagePlugIn.h"
#include "patches/MIDI_NoteDistributorPlugIn.h"
#include "patches/MIDI_ReceiverPlugIn.h"
#include "patches/MIDI_SenderPlugIn.h"
#include "patches/NoteDistributorSettingsController.h"
#include "patches/ReceiverSettingsController.h"
#include "patches/SettingsController.h"

namespace wex {

namespace {

void registerPanelLayouts() {
  PanelLayout group;
  group.numbers.push_back(PanelLayout::Number{"numberOfMessages", "Number of Messages",
                                              "numberOfMessages", 0,
                                              MIDI_GroupPlugIn::kMaximumSavedMessages});
  PanelLayouts::registerLayout("SettingsForMIDIGroup", group);
  EndpointSettingsController::registerLayout(MIDI_ReceiverPlugIn::kPanelName,
                                             ReceiverSettingsController::kTableName);
  EndpointSettingsController::registerLayout(MIDI_SenderPlugIn::kPanelName,
                                             SettingsController::kTableName);
  DistributorSettingsController::registerLayout(MIDI_CCDistributorPlugIn::kPanelName,
                                                CCDistributorSettingsController::kTableName,
                                                "Controller");
  DistributorSettingsController::registerLayout(MIDI_NoteDistributorPlugIn::kPanelName,
                                                NoteDistributorSettingsController::kTableName,
                                                "Note");
}

}  // namespace

void registerWexPatches(PlugInRegistry& registry) {
  registerPanelLayouts();
  registry.registerClass<MIDI_ReceiverPlugIn>("MIDI_ReceiverPlugIn");
  registry.registerClass<MIDI_SenderPlugIn>("MIDI_SenderPlugIn");
  registry.registerClass<MIDI_MessagePlugIn>("MIDI_MessagePlugIn");
  registry.registerClass<MIDI_14bit_MessagePlugIn>("MIDI_14bit_MessagePlugIn");
  registry.registerClass<MIDI_GroupPlugIn>("MIDI_GroupPlugIn");
  registry.registerClass<MIDI_CCDistributorPlugIn>("MIDI_CCDistributorPlugIn");
  registry.registerClass<MIDI_NoteDistributorPlugIn>("MIDI_NoteDistributorPlugIn");
}

}  // namespace wex
