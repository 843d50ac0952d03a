#pragma once

namespace wex::test {

// The checkout and the program under test. The build writes them into one
// generated file, so that every other test compiles the same in any checkout
// and a second clone reuses what the first compiled.
extern const char* const kSourceDir;
extern const char* const kProgramPath;

}  // namespace wex::test
