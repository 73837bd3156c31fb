// Titles from worldspawn messages: the steps' order on the cases where it matters, and
// the one-pass version against the steps done one after another on random messages.
#include "formats/map_title.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace mapsweep::formats {
namespace {

using namespace std::string_literals;

// The four steps, each over the whole message, as they are described.
std::string title_step_by_step(std::string_view message) {
  std::string s;
  for (const char c : message) s.push_back(static_cast<char>(static_cast<unsigned char>(c) & 0x7F));
  std::string paired;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size() && s[i + 1] == 'n') {
      paired.push_back(' ');
      ++i;
    } else {
      paired.push_back(s[i]);
    }
  }
  for (char& c : paired) {
    if (c == '"') c = '\'';
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  std::string collapsed;
  for (const char c : paired) {
    if (c != ' ' || (!collapsed.empty() && collapsed.back() != ' ')) collapsed.push_back(c);
  }
  if (!collapsed.empty() && collapsed.back() == ' ') collapsed.pop_back();
  return collapsed;
}

TEST(MapTitle, StepsApplyInOrder) {
  EXPECT_EQ(display_title(""), "");
  EXPECT_EQ(display_title("  \t\r\n "), "");
  EXPECT_EQ(display_title("  The\t\tLost   Castle \r\n"), "The Lost Castle");
  EXPECT_EQ(display_title("Part one\\nPart two\\n"), "Part one Part two");
  EXPECT_EQ(display_title("\\\\n"), "\\");
  EXPECT_EQ(display_title("a\\nn\\"), "a n\\");
  EXPECT_EQ(display_title("Say \"hi\""), "Say 'hi'");
  // High bytes first: they can become a pair, a quote or a control byte.
  EXPECT_EQ(display_title("\xC8\xE1\xEC\xEC"), "Hall");
  EXPECT_EQ(display_title("a\xDC\xEE"
                          "b"),
            "a b");
  EXPECT_EQ(display_title("a\\\xEE"
                          "b"),
            "a b");
  EXPECT_EQ(display_title("\xA2x\xA2"), "'x'");
  EXPECT_EQ(display_title("a\x8A\xFF\x80"
                          "b\x7F"),
            "a b");
  EXPECT_EQ(display_title(std::string(100000, 'x')).size(), 100000u);
}

TEST(MapTitle, OnePassAgreesWithTheSteps) {
  std::mt19937 random(77);
  const std::string alphabet = "\\nN \t\"\x7F\x01xy\xDC\xEE\xA0\xA2\x80\xFF\x8A"s;
  for (int round = 0; round < 5000; ++round) {
    std::string message(random() % 24, ' ');
    for (char& c : message) c = alphabet[random() % alphabet.size()];
    ASSERT_EQ(display_title(message), title_step_by_step(message)) << message;
  }
}

}  // namespace
}  // namespace mapsweep::formats
