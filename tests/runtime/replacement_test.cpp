// The names of a replacement's new files: what the run makes, and what alone it takes back
// as its own when a killed run left one behind.
#include "runtime/replacement.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace mapsweep {
namespace {

bool is_letter_or_digit(int byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= '0' && byte <= '9');
}

TEST(SiblingName, EveryNameTheRunMakesIsOneItTakesBack) {
  std::minstd_rand random(7);
  for (int i = 0; i < 2000; ++i) {
    const std::string name = "maps.lst" + std::string(kSiblingInfix) + random_name_part(random);
    EXPECT_TRUE(is_sibling_name("maps.lst", name)) << name;
  }
}

TEST(SiblingName, TheRandomPartIsExactlySixLettersOrDigitsInAnyPlace) {
  for (int byte = 0; byte < 256; ++byte) {
    for (std::size_t place = 0; place < 6; ++place) {
      std::string random = "aZ09xy";
      random[place] = static_cast<char>(byte);
      EXPECT_EQ(is_sibling_name("maps.lst", "maps.lst.mapsweep-" + random),
                is_letter_or_digit(byte))
          << "byte " << byte << " at " << place;
    }
  }
  for (const char* name : {"maps.lst.mapsweep-abc12", "maps.lst.mapsweep-abc1234",
                           "maps.lst.mapsweep-", "maps.lst.mapsweep"}) {
    EXPECT_FALSE(is_sibling_name("maps.lst", name)) << name;
  }
}

TEST(SiblingName, TheListsNameAndTheInfixMatchInTheirLetterCaseOnly) {
  EXPECT_TRUE(is_sibling_name("MAPS.LST", "MAPS.LST.mapsweep-abc123"));
  for (const char* name : {"MAPS.LST.mapsweep-abc123", "maps.lst.MAPSWEEP-abc123",
                           "Maps.lst.mapsweep-abc123", "maps.lst_mapsweep-abc123",
                           "xmaps.lst.mapsweep-abc123"}) {
    EXPECT_FALSE(is_sibling_name("maps.lst", name)) << name;
  }
}

}  // namespace
}  // namespace mapsweep
