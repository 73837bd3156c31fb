// The name rules every platform file shares, without a disk: the fast ways they are written
// (eight bytes compared at a time, sort keys, one backtracked star) against the plain rule
// each stands for, on random names built to share long starts and differ in case anywhere.
#include "runtime/platform/name_matching.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace mapsweep::os;

// Short alphabets make equal starts, case ties and wildcard hits common. 0xE4 stands for
// every byte above 0x7F, which no letter-case rule may touch.
std::string random_name(std::mt19937& random, std::string_view letters, std::size_t longest) {
  std::string name = random() % 3 == 0 ? "shared_start_" : "";
  const std::size_t length = 1 + random() % longest;
  for (std::size_t i = 0; i < length; ++i) name += letters[random() % letters.size()];
  return name;
}

std::string upper(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
  return folded;
}

// Upper-cased names compared as unsigned bytes, ties broken by the raw bytes.
bool plain_ntfs_less(const std::string& a, const std::string& b) {
  const std::string x = upper(a);
  const std::string y = upper(b);
  return x != y ? x < y : a < b;
}

// The plain rule for '*' and '?': tried every way.
bool plain_match(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return name.empty();
  if (pattern[0] == '*') {
    for (std::size_t skip = 0; skip <= name.size(); ++skip) {
      if (plain_match(pattern.substr(1), name.substr(skip))) return true;
    }
    return false;
  }
  return !name.empty() &&
         (pattern[0] == '?' || upper(pattern.substr(0, 1)) == upper(name.substr(0, 1))) &&
         plain_match(pattern.substr(1), name.substr(1));
}

TEST(NameMatching, NtfsOrderAndCaseEqualityAgreeWithThePlainRule) {
  std::mt19937 random(7);
  const std::string letters = "aAbB_~0\xE4";
  std::vector<std::string> names;
  for (int i = 0; i < 3000; ++i) names.push_back(random_name(random, letters, 20));
  for (std::size_t i = 0; i + 1 < names.size(); ++i) {
    const std::string& a = names[i];
    const std::string& b = names[i + 1];
    ASSERT_EQ(ntfs_less(a, b), plain_ntfs_less(a, b)) << a << " against " << b;
    ASSERT_EQ(same_ignoring_case(a, b), upper(a) == upper(b)) << a << " against " << b;
    ASSERT_TRUE(same_ignoring_case(a, upper(a))) << a;
  }
  std::vector<FindData> entries;
  for (const std::string& name : names) entries.push_back({0, name});
  sort_in_ntfs_order(entries);
  std::sort(names.begin(), names.end(), plain_ntfs_less);
  for (std::size_t i = 0; i < names.size(); ++i) ASSERT_EQ(entries[i].name, names[i]) << i;
}

TEST(NameMatching, WildcardsAgreeWithThePlainRule) {
  std::mt19937 random(11);
  for (int i = 0; i < 20000; ++i) {
    std::string pattern;
    for (std::size_t length = random() % 7; pattern.size() < length;) {
      pattern += "a*?B_"[random() % 5];
    }
    const std::string name = random_name(random, "aAbB_", 8);
    ASSERT_EQ(wildcard_match(pattern, name), plain_match(pattern, name))
        << pattern << " against " << name;
  }
}

}  // namespace
