#include "patches/WexPatches.h"

#include "host/PanelLayouts.h"
#include "host/PlugInRegistry.h"
#include "patches/MIDI_14bit_MessagePlugIn.h"
#include "patches/MIDI_GroupPlugIn.h"
#include "patches/MIDI_MessagePlugIn.h"

namespace wex {

namespace {

void registerPanelLayouts() {
  PanelLayout group;
  group.numbers.push_back(PanelLayout::Number{"numberOfMessages", "Number of Messages",
                                              "numberOfMessages", 0,
                                              MIDI_GroupPlugIn::kMaximumSavedMessages});
  PanelLayouts::registerLayout("SettingsForMIDIGroup", group);
}

}  // namespace

void registerWexPatches(PlugInRegistry& registry) {
  registerPanelLayouts();
  registry.registerClass<MIDI_MessagePlugIn>("MIDI_MessagePlugIn");
  registry.registerClass<MIDI_14bit_MessagePlugIn>("MIDI_14bit_MessagePlugIn");
  registry.registerClass<MIDI_GroupPlugIn>("MIDI_GroupPlugIn");
}

}  // namespace wex
