#pragma once

#include <string>

#include "patches/DistributorSettingsController.h"
#include "patches/MIDI_NoteDistributorPlugIn.h"

namespace wex {

// The note distributor's panel: notes 0 to 127 (as numbers), a tick box
// each, and the learn switch.
class NoteDistributorSettingsController : public DistributorSettingsController {
 public:
  static constexpr const char* kTableName = "notesTableView";

  NoteDistributorSettingsController(MIDI_NoteDistributorPlugIn& plugIn, std::string viewNibName);

  void learnNotes(PanelSwitch& sender) { learn(sender); }

  TableView* notesTableView() const { return numbersTableView(); }
  const TableColumn* notesNameColumn() const { return numbersNameColumn(); }
  const TableColumn* notesEnableColumn() const { return numbersEnableColumn(); }

 protected:
  void enableRow(int row) override { patch_.enableNotePort(row); }
  void disableRow(int row) override { patch_.disableNotePort(row); }

 private:
  MIDI_NoteDistributorPlugIn& patch_;
};

}  // namespace wex
