// What the dry run owes beyond the OS contract (os_contract_test.cpp runs it too): the
// files it keeps in memory and the real ones it opens are shared and refused as real ones
// are, nothing is written through a link, and a file deleted after taking a real one's
// place takes that one along.

#include "runtime/dry_run_os.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "support/native_os_tree.h"

namespace mapsweep {
namespace {

using namespace os;  // the Windows codes and flags

// Whether a call succeeded, and its code: what a real run and a dry run must agree on.
using Answer = std::pair<bool, std::uint32_t>;

struct Open {
  std::uint32_t access;
  std::uint32_t share_mode;
};

class DryRunOsTest : public testing::NativeOsTree {
 protected:
  DryRunOsTest() { os_ = &dry_; }

  // A file made by `layer`'s open, held while it is opened again and deleted, then let go
  // of and deleted: every answer along the way.
  static std::vector<Answer> answers_while_held(Os& layer, const std::string& name, Open first,
                                                Open second) {
    const Result held = layer.create_file(name, first.access, first.share_mode, kOpenAlways);
    EXPECT_NE(held.value, kInvalidHandle);
    const Result again = layer.create_file(name, second.access, second.share_mode, kOpenExisting);
    if (again.value != kInvalidHandle) layer.close_handle(again.value);
    const Result deleted_while_held = layer.delete_file(name);
    layer.close_handle(held.value);
    const Result deleted = layer.delete_file(name);
    return {{again.value != kInvalidHandle, again.last_error},
            {deleted_while_held.value != 0, deleted_while_held.last_error},
            {deleted.value != 0, deleted.last_error}};
  }

  DryRunOs dry_{*native_};
};

// Files the dry run keeps in memory, and real files it opens, against real files.
TEST_F(DryRunOsTest, FilesAreSharedAndRefusedAsRealOnesAre) {
  const std::vector<Open> opens = {{kGenericRead, 0},
                                   {kGenericWrite, 0},
                                   {kGenericRead | kGenericWrite, 0},
                                   {kGenericRead, kShareRead},
                                   {kGenericWrite, kShareRead}};
  std::map<std::string, std::string> left;
  int case_number = 0;
  for (const Open& first : opens) {
    for (const Open& second : opens) {
      // Beside a writer, opens that both share reading are refused on Windows only.
      const bool writer = ((first.access | second.access) & kGenericWrite) != 0;
      if (first.share_mode != 0 && second.share_mode != 0 && writer) continue;
      const std::string name = "file" + std::to_string(case_number++);
      SCOPED_TRACE(name);
      const std::vector<Answer> real = answers_while_held(*native_, name, first, second);
      EXPECT_EQ(answers_while_held(dry_, name, first, second), real);
      tree_.write_file(name + ".old", "old");
      left[name + ".old"] = "old";
      EXPECT_EQ(answers_while_held(dry_, name + ".old", first, second), real);
    }
  }
  EXPECT_EQ(tree_.files(), left);
}

// Neither system writes through a link, whatever it leads to.
TEST_F(DryRunOsTest, NoFileIsWrittenThroughALink) {
  tree_.write_file("maps.lst", "old");
  std::error_code no_link;
  std::filesystem::create_symlink(tree_.path("maps.lst"), tree_.path("link.lst"), no_link);
  if (no_link) GTEST_SKIP() << "no link can be made here: " << no_link.message();
  EXPECT_EQ(native_->create_file("link.lst", kGenericWrite, 0, kOpenAlways).value, kInvalidHandle);
  EXPECT_EQ(open_output("link.lst").value, kInvalidHandle);
  EXPECT_EQ(tree_.read_file("maps.lst"), "old");
}

TEST_F(DryRunOsTest, FileDeletedAfterTakingARealOnesPlaceTakesItAlong) {
  tree_.write_file("maps.lst", "old");
  const Result created = dry_.create_file("maps.new", kGenericWrite, kShareRead, kCreateNew);
  ASSERT_NE(created.value, kInvalidHandle);
  EXPECT_EQ(dry_.write_file(created.value, "new", 3).value, 3);
  dry_.close_handle(created.value);
  ASSERT_EQ(dry_.replace_file("maps.new", "maps.lst").value, 1);
  ASSERT_EQ(dry_.delete_file("maps.lst").value, 1);

  EXPECT_EQ(open_existing("maps.lst").last_error, kErrorFileNotFound);
  EXPECT_TRUE(names("maps.*").empty());
  std::string full;
  native_->full_path("maps.lst", full);
  EXPECT_EQ(dry_.deleted_files(), std::vector<std::string>{full});
  EXPECT_TRUE(dry_.written_files().empty());
  EXPECT_EQ(tree_.read_file("maps.lst"), "old");
}

}  // namespace
}  // namespace mapsweep
