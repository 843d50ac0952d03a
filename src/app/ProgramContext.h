#pragma once

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace wex {

class MIDIServices;

// What a running subcommand gets from the program: its streams and the MIDI
// services chosen with --midi.
class ProgramContext {
 public:
  static constexpr const char* kDefaultClientName = "wexmidi";

  ProgramContext(std::istream& in, std::ostream& out, std::ostream& err)
      : in_(in), out_(out), err_(err) {}
  // Uninstalls the MIDI services it started.
  ~ProgramContext();
  ProgramContext(const ProgramContext&) = delete;
  ProgramContext& operator=(const ProgramContext&) = delete;

  std::istream& in() { return in_; }
  std::ostream& out() { return out_; }
  std::ostream& err() { return err_; }

  // "embedded", "jack", "alsa", or "" for the default (JACK when a server
  // runs, else ALSA when the machine has a sequencer, else embedded).
  const std::string& midiChoice() const { return midiChoice_; }
  void setMIDIChoice(std::string choice) { midiChoice_ = std::move(choice); }
  // The JACK client's and the ALSA sequencer client's name (--name).
  const std::string& clientName() const { return clientName_; }
  void setClientName(std::string name) { clientName_ = std::move(name); }
  // True once nobody reads the process's standard output any more (a pipe
  // whose reader has closed it), found without writing, so that a command
  // with nothing to print still notices. Always false for other streams.
  bool outputReaderGone() const;
  // True when standard input is a stream to read commands from.
  bool interactiveInput() const { return interactiveInput_; }
  void setInteractiveInput(bool on) { interactiveInput_ = on; }

  // Starts and installs the chosen MIDI services, once. Null, with the reason
  // on err(), when they cannot be started.
  std::shared_ptr<MIDIServices> startMIDIServices();
  // The endpoint names the user's choices stand for: on the ALSA services, an
  // address as aconnect takes it ("14:0", a client's name) becomes the name
  // of the endpoint there; everything else is kept as it is.
  std::vector<std::string> endpointNames(const std::vector<std::string>& wanted, bool isSource);
  // "embedded", "jack" or "alsa" once started; "" before.
  const std::string& servicesName() const { return servicesName_; }

 private:
  std::istream& in_;
  std::ostream& out_;
  std::ostream& err_;
  std::string midiChoice_;
  std::string clientName_ = kDefaultClientName;
  bool interactiveInput_ = true;
  std::shared_ptr<MIDIServices> services_;
  std::string servicesName_;
};

}  // namespace wex
