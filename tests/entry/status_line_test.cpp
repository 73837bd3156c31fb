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
  line.update(1, 12, "id1", 0);
  now += 400ms;
  line.update(2, 12, "id1", 5u << 20);
  EXPECT_EQ(terminal.str(), "");  // a short run shows nothing

  now += 200ms;
  line.update(3, 12, "hipnotic", 150u << 20);
  const std::string first = "\r[3/12] 150 MiB  hipnotic";
  EXPECT_EQ(terminal.str(), first);
  now += 50ms;
  line.update(4, 12, "rogue", 160u << 20);
  EXPECT_EQ(terminal.str(), first);  // too soon
  now += 60ms;
  line.update(5, 12, "dm", 9u << 20);
  // A shorter text covers all of the longer one before it.
  const std::string second = "\r[5/12] 9 MiB  dm        ";
  EXPECT_EQ(terminal.str(), first + second);
  line.finish();
  EXPECT_EQ(terminal.str(), first + second + "\r" + std::string(second.size() - 1, ' ') + "\r");
  line.finish();  // nothing shown any more: nothing to erase
  EXPECT_EQ(terminal.str().size(), (first + second).size() + second.size() + 1);
}

// The line fits the terminal: the folder's name is cut (never inside a character) and its
// control bytes cannot reach the terminal.
TEST(StatusLine, TheFolderNameIsCutToTheTerminalWidth) {
  struct Case {
    std::string name;
    std::size_t columns;
    std::string shown;
  };
  const Case cases[] = {
      {"id1", 80, "[3/12] 150 MiB  id1"},
      {"id1", 0, "[3/12] 150 MiB  id1"},  // width unknown: 80 columns
      {"a_rather_long_folder_name", 30, "[3/12] 150 MiB  a_rather_l..."},
      {"\xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\xC3\xA4\xC3\xB6", 22,
       "[3/12] 150 MiB  \xC3\xA4\xC3\xB6..."},
      {"ab", 19, "[3/12] 150 MiB  ab"},
      {"abcd", 19, "[3/12] 150 MiB  ab"},
      {"evil\x1B]0;title\x07", 80, "[3/12] 150 MiB  evil?]0;title?"},
      {"id1", 10, "[3/12] 15"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(status_text(3, 12, c.name, 150u << 20, c.columns), c.shown) << c.columns;
  }
}

}  // namespace
}  // namespace mapsweep
