#pragma once

#include <iostream>
#include <memory>
#include <string>

namespace wex {

class MIDIServices;

// What a running subcommand gets from the program: its streams and the MIDI
// services chosen with --midi.
class ProgramContext {
 public:
  ProgramContext(std::istream& in, std::ostream& out, std::ostream& err)
      : in_(in), out_(out), err_(err) {}
  // Uninstalls the MIDI services it started.
  ~ProgramContext();
  ProgramContext(const ProgramContext&) = delete;
  ProgramContext& operator=(const ProgramContext&) = delete;

  std::istream& in() { return in_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // "embedded", "jack", or "" for the default (JACK when a server runs).
  const std::string& midiChoice() const { return midiChoice_; }
  void setMidiChoice(std::string choice) { midiChoice_ = std::move(choice); }
  // True when standard input is a stream to read commands from.
  bool interactiveInput() const { return interactiveInput_; }
  void setInteractiveInput(bool on) { interactiveInput_ = on; }

  // Starts and installs the chosen MIDI services, once. Null, with the reason
  // on err(), when they cannot be started.
  std::shared_ptr<MIDIServices> startMIDIServices();
  // "embedded" or "jack" once started; "" before.
  const std::string& servicesName() const { return servicesName_; }

 private:
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  std::string midiChoice_;
  bool interactiveInput_ = true;
  std::shared_ptr<MIDIServices> services_;
  std::string servicesName_;
};

}  // namespace wex
