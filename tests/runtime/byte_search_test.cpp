// The byte search against the standard library's on texts and needles built to hit every
// border of its steps: small alphabets (many near misses), needles of every length up to
// past a step, occurrences at the text's ends and across step borders, texts of several
// steps of the widest vectors.
#include "runtime/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

namespace mapsweep {
namespace {

std::string random_bytes(std::mt19937& random, std::size_t size, int alphabet) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random() % static_cast<unsigned>(alphabet));
  return bytes;
}

TEST(ByteSearch, FindsWhatTheStandardSearchFinds) {
  std::mt19937 random(3);
  for (int round = 0; round < 20000; ++round) {
    const int alphabet = round % 3 == 0 ? 2 : (round % 3 == 1 ? 4 : 256);
    const std::size_t size = random() % 400;
    std::string text = random_bytes(random, size, alphabet);
    const std::size_t needle_size = random() % 40;
    std::string needle = random_bytes(random, needle_size, alphabet);
    // Often plant the needle, whole or but for its last byte, somewhere in the text.
    if (size >= needle_size && random() % 2 == 0) {
      const std::size_t at = random() % (size - needle_size + 1);
      text.replace(at, needle_size, needle);
      if (needle_size > 0 && random() % 3 == 0) text[at + needle_size - 1] ^= 1;
    }
    const std::size_t from = random() % (size + 3);
    ASSERT_EQ(find_bytes(text, needle, from), std::string_view(text).find(needle, from))
        << "round " << round << " size " << size << " needle " << needle_size << " from " << from;
  }
}

// The search for two needles at once gives each one's first occurrence, as two searches
// would, whichever of them comes first and however near the other one follows.
TEST(ByteSearch, FindsEachOfTwoNeedlesAsTwoSearchesWould) {
  std::mt19937 random(4);
  for (int round = 0; round < 20000; ++round) {
    const int alphabet = round % 2 == 0 ? 3 : 256;
    const std::size_t size = random() % 700;
    std::string text = random_bytes(random, size, alphabet);
    std::string a = random_bytes(random, random() % 30, alphabet);
    std::string b = random_bytes(random, random() % 30, alphabet);
    for (const std::string* needle : {&a, &b}) {
      if (size >= needle->size() && random() % 2 == 0) {
        text.replace(random() % (size - needle->size() + 1), needle->size(), *needle);
      }
    }
    const FirstOfEach found = find_each(text, a, b);
    ASSERT_EQ(found.a, std::string_view(text).find(a)) << "round " << round;
    ASSERT_EQ(found.b, std::string_view(text).find(b)) << "round " << round;
  }
}

}  // namespace
}  // namespace mapsweep
