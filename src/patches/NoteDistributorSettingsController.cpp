#include "patches/NoteDistributorSettingsController.h"

namespace wex {

NoteDistributorSettingsController::NoteDistributorSettingsController(
    MIDI_NoteDistributorPlugIn& plugIn, std::string viewNibName)
    : DistributorSettingsController(plugIn, std::move(viewNibName), kTableName, "Note"),
      patch_(plugIn) {}

}  // namespace wex
