// Runs that try to lose or damage a list: names of the user's where the program keeps its
// folder list, a second run at once, a full disk, files and folders that cannot be read,
// memory running out, files vanishing. Each list is left as it was or replaced whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "failing_allocation.h"
#include "program_tree.h"
#include "support/lock_holder.h"
#include "support/system_traits.h"

namespace mapsweep {
namespace {

namespace fs = std::filesystem;
using testing::Files;
using testing::OsCall;
using testing::Repeat;

class ListSafety : public testing::ProgramTree {};

TEST_F(ListSafety, TheUsersOwnScratchNamesAreLeftAlone) {
  loose_map("g", "one", "One");
  tree_.write_file("base/temp.tmp", "mine\r\n");
  ASSERT_TRUE(testing::make_read_only(tree_.path("base/temp.tmp")));
  tree_.write_file("base/TEMP1.TMP", "also mine\r\n");
  {
    const testing::LockHolder held(tree_.path("base/TEMP1.TMP"));
    EXPECT_EQ(run(), kExitDone);
  }
  EXPECT_EQ(files_named("base/"),
            (Files{{"base/TEMP1.TMP", "also mine\r\n"},
                   {"base/g/maps.lst", "one \"One\"\r\n"},
                   {"base/g/maps/one.bsp", tree_.read_file("base/g/maps/one.bsp")},
                   {"base/maps.lst", "one \"One\"\r\n"},
                   {"base/temp.tmp", "mine\r\n"}}));
}

TEST_F(ListSafety, ARunThatCannotWriteItsFolderListTouchesNoListAndSaysWhy) {
  loose_map("g", "one", "One");
  tree_.write_file("base/maps.lst", "old combined\r\n");
  tree_.write_file("base/g/maps.lst", "old folder\r\n");
  const Files before = tree_.files();
  faulty_.fail_named(OsCall::kCreateFile, "temp", os::kErrorAccessDenied, Repeat::kFromThenOn);
  EXPECT_EQ(run(), kExitRefused);
  EXPECT_EQ(tree_.files(), before);
  ASSERT_EQ(dialog_.shown().size(), 2u);
  EXPECT_EQ(dialog_.shown()[1].style, kStyleOk | kStyleErrorIcon);
  EXPECT_NE(dialog_.shown()[1].text.find("temp.tmp"), std::string::npos);
}

TEST_F(ListSafety, ASecondRunInTheSameFolderIsRefusedAndTouchesNothing) {
  loose_map("g", "one", "One");
  tree_.write_file("base/maps.lst", "old combined\r\n");
  const Files before = tree_.files();
  const os::Result held = native_->lock_folder(tree_.path("base"));
  ASSERT_NE(held.value, os::kInvalidHandle);
  EXPECT_EQ(run(), kExitRefused);
  EXPECT_EQ(tree_.files(), before);
  ASSERT_EQ(dialog_.shown().size(), 1u);  // refused before the question
  EXPECT_NE(dialog_.shown()[0].text.find("Another run"), std::string::npos);

  native_->unlock_folder(held.value);
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\n");
}

TEST_F(ListSafety, AFullDiskKeepsEveryListAsItWas) {
  loose_map("a", "one", "One");
  loose_map("b", "two", "Two");
  tree_.write_file("base/maps.lst", "old combined\r\n");
  tree_.write_file("base/a/maps.lst", "old a\r\n");
  tree_.write_file("base/b/maps.lst", "old b\r\n");
  const Files before = tree_.files();
  // Write 1 is the folder list, at its close; from the first map list's on, the disk is full.
  faulty_.fail(OsCall::kWriteFile, 2, os::kErrorDiskFull, Repeat::kFromThenOn);
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.files(), before);
}

TEST_F(ListSafety, AFolderThatCannotBeReadWholeKeepsItsList) {
  tree_.write_file("base/a/pak0.pak",
                   tools::pack_archive(
                       {{"maps/e1m1.bsp",
                         tools::map_data(40000, 100, tools::world_entity_text({"Castle", {}}))}}));
  tree_.write_file("base/a/maps.lst", "old a\r\n");
  loose_map("b", "two", "Two");
  tree_.write_file("base/b/maps.lst", "old b\r\n");
  loose_map("c", "three", "Three");
  tree_.write_file("base/c/maps.lst", "old c\r\n");
  faulty_.fail_named(OsCall::kCreateFile, "pak0.pak", os::kErrorSharingViolation);
  faulty_.fail_named(OsCall::kFindFirst, "*.BSP", os::kErrorAccessDenied);  // b's maps folder
  EXPECT_EQ(run(), kExitDone);
  EXPECT_EQ(tree_.read_file("base/a/maps.lst"), "old a\r\n");
  EXPECT_EQ(tree_.read_file("base/b/maps.lst"), "old b\r\n");
  EXPECT_EQ(tree_.read_file("base/c/maps.lst"), "three \"Three\"\r\n");
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "three \"Three\"\r\n");
}

TEST_F(ListSafety, TheReportSaysWhatWasPassedOverAndWhy) {
  tree_.write_file("base/a/pak0.pak", tools::pack_archive({{"maps/e1m1.bsp", "x"}}));
  tree_.write_file("base/a/maps.lst", "old a\r\n");
  loose_map("b", "two", "Two");
  tree_.write_file("base/b/maps.lst", "old b\r\n");
  loose_map("c", "three", "Three");
  tree_.make_dir("base/d");
  tree_.write_file("base/d/maps.lst", "old d\r\n");
  faulty_.fail_named(OsCall::kCreateFile, "pak0.pak", os::kErrorSharingViolation);
  RunReport report;
  dialog_ = testing::ScriptedDialog({kButtonYes});
  faulty_.set_current_directory(tree_.path("base"));
  {
    const testing::LockHolder held(tree_.path("base/b/maps.lst"));
    EXPECT_EQ(program_entry(faulty_, dialog_,
                            [&](Runtime& rt) {
                              build_map_lists(rt, {ScanMode::kByteSearch, &report, nullptr});
                            }),
              kExitDone);
  }
  EXPECT_EQ(report.folders_visited, 4);
  EXPECT_EQ(report.lists_written, 1);  // c's
  EXPECT_EQ(report.lists_kept, 1);     // a's, after a scan that could not read its archive
  EXPECT_EQ(report.lists_removed, 1);  // d's: nothing to list there
  EXPECT_EQ(report.combined, CombinedList::kWritten);
  EXPECT_EQ(report.maps_listed, 2);
  ASSERT_EQ(report.passed_over.size(), 2u);
  EXPECT_EQ(report.passed_over[0].path, "a/pak0.pak");
  EXPECT_EQ(report.passed_over[0].reason, "held by another program");
  EXPECT_EQ(report.passed_over[1].path, "b/maps.lst");
  EXPECT_EQ(report.passed_over[1].reason, "held by another program: left as it was");
}

TEST_F(ListSafety, RunningOutOfMemoryInOneArchiveSparesEveryOtherList) {
  tools::PackBuilder archive;
  for (int i = 0; i < 150000; ++i) archive.add_file("maps/m" + std::to_string(i) + ".bsp", "");
  tree_.write_file("base/a/pak0.pak", archive.build());
  tree_.write_file("base/a/maps.lst", "old a\r\n");
  loose_map("b", "two", "Two");
  tree_.write_file("base/b/maps.lst", "old b\r\n");
  // The archive's names outgrow this; nothing else the run keeps comes near it.
  testing::fail_allocations_larger_than(256 * 1024);
  const int status = run();
  testing::stop_failing_allocations();
  EXPECT_EQ(status, kExitDone);
  EXPECT_EQ(tree_.read_file("base/a/maps.lst"), "old a\r\n");
  EXPECT_EQ(tree_.read_file("base/b/maps.lst"), "two \"Two\"\r\n");
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "two \"Two\"\r\n");
  EXPECT_TRUE(files_named("temp").empty());
  EXPECT_TRUE(files_named(".mapsweep-").empty());
}

TEST_F(ListSafety, AnArchiveThatVanishesBeforeItIsOpenedIsNotCreated) {
  tree_.write_file("base/g/pak0.pak", tools::pack_archive({{"maps/e1m1.bsp", "x"}}));
  loose_map("g", "one", "One");
  faulty_.before_named_calls([&](OsCall call, const std::string& name) {
    if (call == OsCall::kCreateFile && name.find("pak0.pak") != std::string::npos) {
      fs::remove(tree_.path("base/g/pak0.pak"));
    }
  });
  EXPECT_EQ(run(), kExitDone);
  EXPECT_FALSE(tree_.exists("base/g/pak0.pak"));
  EXPECT_EQ(tree_.read_file("base/maps.lst"), "one \"One\"\r\n");
}

}  // namespace
}  // namespace mapsweep
