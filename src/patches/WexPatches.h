#pragma once

namespace wex {

class PlugInRegistry;

// Registers this system's patch classes and their panel layouts; the program
// calls it once before loading compositions.
void registerWexPatches(PlugInRegistry& registry);

}  // namespace wex
