// What every OS layer owes the runtime, run against the one this build targets and the two
// that wrap it, the dry run's and the fault injector: the Windows codes of each outcome,
// exclusive opens, read-only files, exact bytes through a handle, searches, the current
// directory and deleting. The layers' own ways (directory order, short names, links and so
// on) are tested in posix_os_test.cpp and win32_os_test.cpp.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "runtime/dry_run_os.h"
#include "runtime/platform/os.h"
#include "support/faulty_os.h"
#include "support/lock_holder.h"
#include "support/native_os_tree.h"
#include "support/system_traits.h"

namespace {

using mapsweep::os::FindData;
using mapsweep::os::Handle;
using mapsweep::os::Result;
using mapsweep::testing::LockHolder;
using namespace mapsweep::os;  // the Windows codes and flags

using Names = std::vector<std::string>;
using NameSet = std::set<std::string>;

// The layers the runtime may be given: the native one, the one that writes nothing for dry
// runs, and the fault injector of the tests with no fault planted. Each owes the same: a
// dry run that answered a write or a deletion with success where a real run is refused
// would tell of a run that cannot happen.
enum class Layer { kNative, kDryRun, kPassThrough };

class OsContract : public mapsweep::testing::NativeOsTree,
                   public ::testing::WithParamInterface<Layer> {
 protected:
  void SetUp() override {
    if (GetParam() == Layer::kDryRun) wrapper_ = std::make_unique<mapsweep::DryRunOs>(*native_);
    if (GetParam() == Layer::kPassThrough) {
      wrapper_ = std::make_unique<mapsweep::testing::FaultyOs>(*native_);
    }
    if (wrapper_) os_ = wrapper_.get();
    NativeOsTree::SetUp();
  }

  // What the file (named from the tree's root) holds, as the disk tells for the native layer
  // and as the layer shows it for the others (a dry run keeps what it writes in memory);
  // nothing when it is not there.
  std::optional<std::string> contents(const std::string& name) {
    if (GetParam() == Layer::kNative) {
      if (!tree_.exists(name)) return std::nullopt;
      return tree_.read_file(name);
    }
    const Result r = open_existing(tree_.path(name));
    if (r.value == kInvalidHandle) return std::nullopt;
    std::string bytes = read_all(r.value);
    os_->close_handle(r.value);
    return bytes;
  }

  std::unique_ptr<mapsweep::os::Os> wrapper_;  // around native_, gone before it

  // The names a search gives, in whatever order the system lists them.
  NameSet name_set(const std::string& pattern) {
    const Names found = names(pattern);
    return NameSet(found.begin(), found.end());
  }
};

// --- Opening: dispositions, 2 against 3 ------------------------------------------------

TEST_P(OsContract, OpenAlwaysReports183ForAnExistingFileOnly) {
  tree_.write_file("old", "bytes");
  Result r = os_->create_file("old", kGenericRead, 0, kOpenAlways);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorAlreadyExists);
  EXPECT_EQ(read_all(r.value), "bytes");  // opened, not emptied
  os_->close_handle(r.value);
  for (const std::uint32_t access : {kGenericRead, kGenericRead | kGenericWrite}) {
    SCOPED_TRACE(access);
    const std::string name = access == kGenericRead ? "fresh" : "fresh.rw";
    r = os_->create_file(name, access, 0, kOpenAlways);
    ASSERT_NE(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorSuccess);
    EXPECT_EQ(os_->close_handle(r.value).value, 1);
    r = os_->create_file(name, access, 0, kOpenAlways);
    ASSERT_NE(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorAlreadyExists);
    os_->close_handle(r.value);
  }
  r = open_existing("old");
  EXPECT_EQ(r.last_error, kErrorSuccess);
  os_->close_handle(r.value);
  EXPECT_TRUE(contents("fresh"));
}

TEST_P(OsContract, MissingFileIs2AndMissingFolderOnTheWayIs3) {
  tree_.write_file("file.txt", "");
  struct Case {
    const char* name;
    std::uint32_t code;
  };
  for (const Case& c :
       {Case{"missing.lst", kErrorFileNotFound}, Case{"nofolder/maps.lst", kErrorPathNotFound},
        Case{"no/such/dir.bin", kErrorPathNotFound},
        Case{"file.txt/maps.lst", kErrorPathNotFound}}) {
    SCOPED_TRACE(c.name);
    Result r = open_existing(c.name);
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, c.code);
    r = os_->delete_file(c.name);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.last_error, c.code);
  }
  const Result r = open_output("nofolder/maps.lst");
  EXPECT_EQ(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorPathNotFound);
  EXPECT_EQ(tree_.files().size(), 1u);
}

TEST_P(OsContract, NameEndsAtItsFirstNul) {
  tree_.write_file("maps.lst", "x");
  const Result r = open_existing(std::string("maps.lst\0junk", 13));
  EXPECT_EQ(r.last_error, kErrorSuccess);
  os_->close_handle(r.value);
}

TEST_P(OsContract, FoldersAreNeitherOpenedNorDeleted) {
  tree_.make_dir("maps");
  EXPECT_EQ(open_existing("maps").last_error, kErrorAccessDenied);
  EXPECT_EQ(open_output("maps").last_error, kErrorAccessDenied);
  const Result r = os_->delete_file("maps");
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.last_error, kErrorAccessDenied);
  EXPECT_TRUE(std::filesystem::is_directory(tree_.path("maps")));
}

// --- Exclusive opens -------------------------------------------------------------------

TEST_P(OsContract, SecondOpenInTheSameProcessWaitsForTheFirstToClose) {
  tree_.write_file("temp.tmp", "data");
  struct First {
    std::uint32_t access;
    std::uint32_t disposition;
  };
  // As the runtime opens a list for output, and an archive for reading.
  for (const First& how : {First{kGenericWrite, kOpenAlways}, First{kGenericRead, kOpenExisting}}) {
    SCOPED_TRACE(how.access);
    const Result first = os_->create_file("temp.tmp", how.access, 0, how.disposition);
    ASSERT_NE(first.value, kInvalidHandle);
    const Result refused = open_existing("TEMP.TMP");
    EXPECT_EQ(refused.value, kInvalidHandle);
    EXPECT_EQ(refused.last_error, kErrorSharingViolation);
    EXPECT_EQ(os_->delete_file("temp.tmp").last_error, kErrorSharingViolation);
    EXPECT_EQ(os_->close_handle(first.value).value, 1);
    const Result second = open_existing("temp.tmp");
    ASSERT_NE(second.value, kInvalidHandle);
    os_->close_handle(second.value);
  }
  EXPECT_EQ(contents("temp.tmp"), "data");
  EXPECT_EQ(os_->delete_file("temp.tmp").value, 1);
  EXPECT_FALSE(contents("temp.tmp"));
}

TEST_P(OsContract, FileHeldByAnotherProgramIsASharingViolationAndStaysIntact) {
  tree_.write_file("maps.lst", "precious");
  {
    LockHolder holder(tree_.path("maps.lst"));
    Result r = open_existing("maps.lst");
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorSharingViolation);
    r = open_output("MAPS.LST");
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorSharingViolation);
    r = os_->delete_file("maps.lst");
    EXPECT_EQ(r.last_error, kErrorSharingViolation);
  }
  // Read back once released: on Windows nobody may read a held file.
  EXPECT_EQ(contents("maps.lst"), "precious");
  const Result r = open_output("maps.lst");
  ASSERT_NE(r.value, kInvalidHandle);
  os_->close_handle(r.value);
}

// --- Read-only files -------------------------------------------------------------------

TEST_P(OsContract, ReadOnlyFileRefusesWritingAndDeletingButReads) {
  if (!mapsweep::testing::read_only_files_are_refused()) {
    GTEST_SKIP() << "this system lets the process write read-only files (Wine as root)";
  }
  tree_.write_file("readonly.pak", "keep");
  ASSERT_TRUE(mapsweep::testing::make_read_only(tree_.path("readonly.pak")));
  for (const Result& r :
       {open_existing("readonly.pak", kGenericWrite), open_output("readonly.pak"),
        open_existing("readonly.pak", kGenericRead | kGenericWrite),
        os_->create_file("readonly.pak", kGenericRead | kGenericWrite, 0, kOpenAlways)}) {
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorAccessDenied);
  }
  for (const std::uint32_t disposition : {kOpenExisting, kOpenAlways}) {
    SCOPED_TRACE(disposition);
    const Result r = os_->create_file("readonly.pak", kGenericRead, 0, disposition);
    ASSERT_NE(r.value, kInvalidHandle);
    EXPECT_EQ(read_all(r.value), "keep");
    os_->close_handle(r.value);
  }
  EXPECT_EQ(os_->delete_file("READONLY.PAK").last_error, kErrorAccessDenied);
  EXPECT_EQ(contents("readonly.pak"), "keep");
}

// --- Reading, writing and handles ------------------------------------------------------

TEST_P(OsContract, WriteSeekTruncateAndReadThroughOneHandle) {
  const Result r = os_->create_file("data", kGenericRead | kGenericWrite, 0, kOpenAlways);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(os_->file_type(r.value).value, kFileTypeDisk);
  // Every byte as it is: no text mode, no end at a NUL or at Ctrl-Z.
  const std::string bytes("a\0b\r\n\x1a\xff", 7);
  EXPECT_EQ(os_->write_file(r.value, bytes.data(), 7).value, 7);
  EXPECT_EQ(os_->set_file_pointer(r.value, 4).value, 4);
  EXPECT_EQ(os_->set_end_of_file(r.value).value, 1);
  EXPECT_EQ(os_->set_file_pointer(r.value, 0).value, 0);
  char read_back[8] = {};
  const Result read = os_->read_file(r.value, read_back, sizeof read_back);
  EXPECT_EQ(read.value, 4);  // end of file is no error
  EXPECT_EQ(read.last_error, kErrorSuccess);
  EXPECT_EQ(std::string(read_back, 4), bytes.substr(0, 4));
  EXPECT_EQ(os_->read_file(r.value, read_back, sizeof read_back).value, 0);
  EXPECT_EQ(os_->set_file_pointer(r.value, -1).value, -1);
  EXPECT_EQ(os_->close_handle(r.value).value, 1);
  EXPECT_EQ(contents("data"), bytes.substr(0, 4));
}

TEST_P(OsContract, ClosingAClosedHandleFailsWith6) {
  const Result r = open_output("c.bin");
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(os_->close_handle(r.value).value, 1);
  const Result again = os_->close_handle(r.value);
  EXPECT_EQ(again.value, 0);
  EXPECT_EQ(again.last_error, kErrorInvalidHandle);
}

// --- Searching -------------------------------------------------------------------------

TEST_P(OsContract, SearchFailuresTellNoMatchFromMissingFolder) {
  tree_.write_file("file.txt", "x");
  FindData entry;
  struct Case {
    const char* pattern;
    std::uint32_t code;
  };
  for (const Case& c :
       {Case{"*.bsp", kErrorFileNotFound}, Case{"*.none", kErrorFileNotFound},
        Case{"missing/*", kErrorPathNotFound}, Case{"missing\\*.*", kErrorPathNotFound}}) {
    SCOPED_TRACE(c.pattern);
    const Result r = os_->find_first(c.pattern, entry);
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, c.code);
  }
}

TEST_P(OsContract, SearchIgnoresLetterCaseAndReportsNamesAsStored) {
  tree_.write_file("game/maps/E1M1.bsp", "x");
  tree_.write_file("game/maps/e1m2.BSP", "x");
  tree_.write_file("game/pak0.pak", "x");

  EXPECT_EQ(names("GAME\\MAPS"), Names{"maps"});
  EXPECT_EQ(name_set("game\\maps\\*.BSP"), (NameSet{"E1M1.bsp", "e1m2.BSP"}));

  FindData entry;
  Result r = os_->find_first("game\\pak0.pak", entry);
  ASSERT_NE(r.value, kInvalidHandle);
  os_->find_close(r.value);
  r = os_->find_first("game\\PAK*.PAK", entry);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(entry.name, "pak0.pak");
  EXPECT_EQ(entry.attributes & kAttributeDirectory, 0u);
  const Result next = os_->find_next(r.value, entry);
  EXPECT_EQ(next.value, 0);
  EXPECT_EQ(next.last_error, kErrorNoMoreFiles);
  EXPECT_EQ(os_->find_close(r.value).value, 1);
}

// --- The current directory -------------------------------------------------------------

TEST_P(OsContract, RefusedChangeKeepsTheCurrentDirectoryAndSaysWhy) {
  tree_.write_file("file.txt", "");
  tree_.write_file("here", "");
  struct Case {
    const char* path;
    std::uint32_t code;
  };
  for (const Case& c : {Case{"file.txt", kErrorDirectory}, Case{"missing", kErrorFileNotFound},
                        Case{"missing/deeper", kErrorPathNotFound}, Case{"", kErrorInvalidName},
                        Case{"ma*", kErrorInvalidName}, Case{"m?ps", kErrorInvalidName}}) {
    SCOPED_TRACE(c.path);
    const Result r = os_->set_current_directory(c.path);
    EXPECT_EQ(r.value, 0);
    EXPECT_EQ(r.last_error, c.code);
    EXPECT_EQ(names("here"), Names{"here"});
  }
}

TEST_P(OsContract, NamesResolveAgainstTheNewCurrentDirectory) {
  tree_.write_file("sub/file.txt", "x");
  ASSERT_EQ(os_->set_current_directory("SUB").value, 1);
  EXPECT_EQ(names("*.txt"), Names{"file.txt"});
  Result r = os_->delete_file("FILE.TXT");
  EXPECT_EQ(r.value, 1);
  EXPECT_FALSE(contents("sub/file.txt"));
  r = os_->delete_file("file.txt");
  EXPECT_EQ(r.value, 0);
  EXPECT_EQ(r.last_error, kErrorFileNotFound);
}

// --- Deleting --------------------------------------------------------------------------

TEST_P(OsContract, DeleteRemovesTheFileWhateverTheCaseOfItsName) {
  tree_.write_file("PAK0.PAK", "");
  tree_.write_file("other", "kept");
  EXPECT_EQ(os_->delete_file("pak0.pak").value, 1);
  NameSet left = name_set("*");
  left.erase(".");  // Windows lists these in any folder but a drive's root
  left.erase("..");
  EXPECT_EQ(left, NameSet{"other"});
  EXPECT_EQ(contents("other"), "kept");
}

INSTANTIATE_TEST_SUITE_P(EveryLayer, OsContract,
                         ::testing::Values(Layer::kNative, Layer::kDryRun, Layer::kPassThrough),
                         [](const ::testing::TestParamInfo<Layer>& info) {
                           switch (info.param) {
                             case Layer::kNative:
                               return "Native";
                             case Layer::kDryRun:
                               return "DryRun";
                             case Layer::kPassThrough:
                               return "PassThrough";
                           }
                           return "Unknown";
                         });

}  // namespace
