// The status line: when it shows, how often, and that it leaves nothing behind.
#include "entry/status_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace mapsweep {
namespace {

using namespace std::chrono_literals;

TEST(StatusLine, ShowsAfterHalfASecondAtMostTenTimesASecondAndErasesItself) {
  std::chrono::steady_clock::time_point now{};
  std::ostringstream terminal;
  StatusLine line(terminal, [&] { return now; });
  line.update(1, 12, 0);
  now += 400ms;
  line.update(2, 12, 5u << 20);
  EXPECT_EQ(terminal.str(), "");  // a short run shows nothing

  now += 200ms;
  line.update(3, 12, 150u << 20);
  const std::string first = "\rmapsweep: game folder 3 of 12, 150 MiB read";
  EXPECT_EQ(terminal.str(), first);
  now += 50ms;
  line.update(4, 12, 160u << 20);
  EXPECT_EQ(terminal.str(), first);  // too soon
  now += 60ms;
  line.update(5, 12, 9u << 20);
  // A shorter text covers all of the longer one before it.
  const std::string second = "\rmapsweep: game folder 5 of 12, 9 MiB read  ";
  EXPECT_EQ(terminal.str(), first + second);
  line.finish();
  EXPECT_EQ(terminal.str(), first + second + "\r" + std::string(second.size() - 1, ' ') + "\r");
  line.finish();  // nothing shown any more: nothing to erase
  EXPECT_EQ(terminal.str().size(), (first + second).size() + second.size() + 1);
}

}  // namespace
}  // namespace mapsweep
