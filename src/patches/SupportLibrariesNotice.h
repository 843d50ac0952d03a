#pragma once

namespace wex {

// The closing paragraph of the receiver's and the sender's descriptions: what
// the patches are built on and where its sources and licence terms are.
inline constexpr const char* kSupportLibrariesNotice =
    "The MIDI core, the patch host and the MIDI services under these patches are wexmidi's own "
    "code; their sources and licence terms are in the wexmidi repository. The third-party "
    "libraries it uses are Debian packages: nlohmann-json, CLI11, cpp-httplib, JACK "
    "(libjack-jackd2) and ALSA's library (libasound2); Debian publishes their sources, and their "
    "licence terms are in /usr/share/doc/<package>/copyright. The page of `wexmidi serve` draws "
    "its graph with Drawflow, an npm package under the MIT licence, whose terms come with the "
    "page's packages (web/node_modules/drawflow/LICENSE).";

}  // namespace wex
