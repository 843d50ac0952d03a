// Opens a composition file on the MIDI services inside the program, plays a
// note on into it from a source of our own, and prints what the composition's
// outputs hold after one evaluation: with distributors.wexcomp.json, the note
// distributor's "notes.note60" turns true.
//
//   embed COMPOSITION [PATCH.PORT]   (default notes.note60)
#include <exception>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/Composition.h"
#include "host/CompositionFile.h"
#include "host/PlugInRegistry.h"
#include "host/PortAddress.h"
#include "host/QCPlugIn.h"
#include "host/ValueJSON.h"
#include "patches/WexPatches.h"
#include "services/embedded/EmbeddedMIDIServices.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: embed COMPOSITION [PATCH.PORT]\n";
    return 2;
  }
  const std::string watched = argc == 3 ? argv[2] : "notes.note60";
  wex::PortAddress output;
  if (!wex::PortAddress::parse(watched, &output)) {
    std::cerr << "embed: " << watched << " is not PATCH.PORT\n";
    return 2;
  }

  // The services every patch reaches, installed before the patches are made;
  // without the loopback bus, our keyboard is the one source.
  auto services = std::make_shared<wex::EmbeddedMIDIServices>(false);
  wex::installMIDIServices(services);
  const wex::MIDIEndpointRef keyboard = services->createDeviceSource("Keyboard");

  int status = 0;
  try {
    wex::PlugInRegistry registry;
    wex::registerWexPatches(registry);
    auto composition = wex::CompositionFile::load(argv[1], registry);
    // The first evaluation starts the patches: the receivers connect to every
    // source.
    composition->evaluate(0);

    // A note on, channel 1, note 60, velocity 100; once delivered, the next
    // evaluation passes it from the receiver to the distributors.
    if (services->feedSourceBytes(keyboard, {0x90, 60, 100}) != 0 ||
        !services->waitUntilDelivered(5)) {
      std::cerr << "embed: the note on was not delivered\n";
      status = 1;
    }
    composition->evaluate(1);
    const auto patch = composition->patch(output.patchId);
    if (!patch || !patch->portTable().hasPort(wex::QCPortDirection::Output, output.key)) {
      throw std::runtime_error("the composition has no output " + watched);
    }
    const wex::Value value = composition->outputValue(output);
    std::cout << watched << " = " << wex::ValueJSON::toJSON(value).dump() << "\n";
    composition.reset();
  } catch (const std::exception& error) {
    std::cerr << "embed: " << error.what() << "\n";
    status = 1;
  }
  wex::installMIDIServices(nullptr);
  return status;
}
