// Port names cut to what the sequencer keeps, never inside a character.
#include <gtest/gtest.h>

#include <string>

#include "services/alsa/AlsaSequencer.h"

namespace wex {
namespace {

std::string repeated(const std::string& part, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += part;
  return text;
}

TEST(AlsaPortName, KeepsAtMost63BytesAndCutsOnlyBetweenCharacters) {
  const struct {
    std::string name;
    std::string kept;
  } cases[] = {
      {"rx from Midi Through:Midi Through Port-0", "rx from Midi Through:Midi Through Port-0"},
      {repeated("a", 63), repeated("a", 63)},
      {repeated("a", 64), repeated("a", 63)},
      {repeated("\xC3\xA9", 32) + " from x", repeated("\xC3\xA9", 31)},          // é: 2 bytes
      {"a" + repeated("\xE2\x82\xAC", 21), "a" + repeated("\xE2\x82\xAC", 20)},  // €: 3 bytes
      {repeated("\xF0\x9D\x84\x9E", 16), repeated("\xF0\x9D\x84\x9E", 15)},      // G clef: 4 bytes
  };
  for (const auto& [name, kept] : cases) EXPECT_EQ(fitPortName(name), kept) << name;
}

}  // namespace
}  // namespace wex
