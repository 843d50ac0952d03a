#include "patches/CCDistributorSettingsController.h"

namespace wex {

CCDistributorSettingsController::CCDistributorSettingsController(MIDI_CCDistributorPlugIn& plugIn,
                                                                 std::string viewNibName)
    : DistributorSettingsController(plugIn, std::move(viewNibName), kTableName, "Controller"),
      patch_(plugIn) {}

}  // namespace wex
