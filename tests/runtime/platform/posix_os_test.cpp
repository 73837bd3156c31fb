// The POSIX platform layer's own ways on real files: directory order and snapshots,
// wildcards, attributes from mode bits, FIFOs and links, names resolved ignoring case, the
// logical current directory, the umask and a full disk. What every layer owes the
// runtime is tested in os_contract_test.cpp.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "runtime/platform/os.h"
#include "support/native_os_tree.h"
#include "support/system_traits.h"

namespace {

namespace fs = std::filesystem;
using mapsweep::os::FindData;
using mapsweep::os::Handle;
using mapsweep::os::Os;
using mapsweep::os::Result;
using namespace mapsweep::os;  // the Windows codes and flags

using PosixOsTest = mapsweep::testing::NativeOsTree;

using Names = std::vector<std::string>;

// --- Directory order and the search handle --------------------------------------------

TEST_F(PosixOsTest, SearchListsNamesInNtfsOrderWithCaseTiesByRawBytes) {
  for (const char* name : {"b", "a", "_x", "Z", "pak2", "pak10", "B", "A", "Maps"}) {
    tree_.write_file(name, "");
  }
  EXPECT_EQ(names("*"), (Names{"A", "a", "B", "b", "Maps", "pak10", "pak2", "Z", "_x"}));
}

// A folder large enough to be looked up by two threads, with names that share long starts
// and differ in case anywhere: listed in NTFS order, FIFOs and dangling links passed over
// wherever they fall.
TEST_F(PosixOsTest, ALargeFolderIsListedWholeInNtfsOrder) {
  std::mt19937 random(21);
  const std::string letters = "aAbB_~0";
  std::set<std::string> files;
  while (files.size() < 5000) {
    std::string name = random() % 2 == 0 ? "shared_prefix_" : "";
    for (std::size_t n = 1 + random() % 12; n > 0; --n) name += letters[random() % letters.size()];
    files.insert(name);
  }
  for (const std::string& name : files) tree_.write_file(name, "");
  for (int i = 0; i < 40; ++i) {
    const std::string odd = "odd" + std::to_string(i);
    if (i % 2 == 0) {
      ASSERT_EQ(mkfifo(tree_.path(odd).c_str(), 0666), 0);
    } else {
      fs::create_symlink(tree_.path("gone"), tree_.path(odd));
    }
  }
  Names expected(files.begin(), files.end());
  std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
    std::string upper_a = a;
    std::string upper_b = b;
    for (char& c : upper_a) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : upper_b) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper_a != upper_b ? upper_a < upper_b : a < b;
  });
  EXPECT_EQ(names("*"), expected);
}

// A folder large enough for its files' read-only bits to be learnt while the caller takes
// the first entries: each entry still has the attributes it would have in a small folder, a
// search given up halfway ends cleanly, and a file removed after the listing keeps its place.
TEST_F(PosixOsTest, ALargeFolderGivesEveryEntryItsAttributes) {
  std::map<std::string, std::uint32_t> expected;
  for (int i = 0; i < 5000; ++i) {
    const bool hidden = i % 11 == 0;
    const std::string name = (hidden ? ".f" : "f") + std::to_string(i);
    tree_.write_file(name, "");
    expected[name] = kAttributeArchive | (hidden ? kAttributeHidden : 0u);
    if (i % 7 == 0) {
      ASSERT_TRUE(mapsweep::testing::make_read_only(tree_.path(name)));
      expected[name] |= kAttributeReadOnly;
    }
  }
  tree_.make_dir("sub");
  expected["sub"] = kAttributeDirectory;
  fs::create_symlink("f7", tree_.path("link"));
  expected["link"] = kAttributeArchive | kAttributeReadOnly;

  FindData entry;
  Result search = os_->find_first("*", entry);
  ASSERT_NE(search.value, kInvalidHandle);
  EXPECT_EQ(os_->find_next(search.value, entry).value, 1);
  EXPECT_EQ(os_->find_close(search.value).value, 1);

  search = os_->find_first("*", entry);
  ASSERT_NE(search.value, kInvalidHandle);
  fs::remove(tree_.path("f4999"));
  std::map<std::string, std::uint32_t> attributes{{entry.name, entry.attributes}};
  while (os_->find_next(search.value, entry).value == 1) attributes[entry.name] = entry.attributes;
  os_->find_close(search.value);
  EXPECT_EQ(attributes, expected);
}

// A folder that may be read but not searched lists its plain files and folders from what
// the listing tells of them, small or large; a link, which only a lookup could follow, is
// passed over. The search runs in a child process without the privileges that would let
// it search the folder anyway.
TEST_F(PosixOsTest, AFolderThatCannotBeSearchedListsWhatItsListingTells) {
  std::map<std::string, std::map<std::string, std::uint32_t>> expected;
  for (const auto& [folder, files] : {std::pair{"small", 3}, std::pair{"large", 4200}}) {
    tree_.make_dir(folder);
    for (int i = 0; i < files; ++i) {
      const std::string name = std::string(folder) + "/f" + std::to_string(i);
      tree_.write_file(name, "");
      expected[folder]["f" + std::to_string(i)] = kAttributeArchive;
    }
    tree_.make_dir(std::string(folder) + "/sub");
    expected[folder]["sub"] = kAttributeDirectory;
    fs::create_symlink("f0", tree_.path(std::string(folder) + "/link"));
  }
  fs::permissions(tree_.root(), fs::perms::owner_all | fs::perms::group_read |
                                    fs::perms::group_exec | fs::perms::others_read |
                                    fs::perms::others_exec);
  const fs::perms readable = fs::perms::owner_read | fs::perms::owner_write |
                             fs::perms::group_read | fs::perms::others_read;
  for (const char* folder : {"small", "large"}) fs::permissions(tree_.path(folder), readable);

  const pid_t pid = fork();
  if (pid == 0) {
    const gid_t nobody = 65534;
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0)) {
      _exit(100);
    }
    int status = 0;
    for (const auto& [folder, entries] : expected) {
      std::map<std::string, std::uint32_t> found;
      FindData entry;
      const Result search = os_->find_first(folder + "\\*", entry);
      if (search.value == kInvalidHandle) _exit(101);
      do {
        found[entry.name] = entry.attributes;
      } while (os_->find_next(search.value, entry).value == 1);
      os_->find_close(search.value);
      if (found != entries) status |= folder == "small" ? 1 : 2;
    }
    _exit(status);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  for (const char* folder : {"small", "large"}) {
    fs::permissions(tree_.path(folder), fs::perms::owner_all, fs::perm_options::add);
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the small folder, 2: the large one, 100 and up: "
                                       "the child could not search as planned";
}

TEST_F(PosixOsTest, SearchHandleEndsWith18AndIsFreedByFindClose) {
  tree_.write_file("only", "");
  FindData entry;
  const Result first = os_->find_first("*", entry);
  ASSERT_NE(first.value, kInvalidHandle);
  EXPECT_EQ(entry.name, "only");
  for (int i = 0; i < 2; ++i) {
    const Result next = os_->find_next(first.value, entry);
    EXPECT_EQ(next.value, 0);
    EXPECT_EQ(next.last_error, kErrorNoMoreFiles);
  }
  EXPECT_EQ(os_->find_close(first.value).value, 1);
  EXPECT_EQ(os_->find_close(first.value).last_error, kErrorInvalidHandle);
  EXPECT_EQ(os_->find_next(first.value, entry).last_error, kErrorInvalidHandle);
}

TEST_F(PosixOsTest, SearchIsASnapshotTakenAtFindFirst) {
  tree_.write_file("a", "");
  tree_.write_file("c", "");
  FindData entry;
  const Result first = os_->find_first("*", entry);
  ASSERT_NE(first.value, kInvalidHandle);
  tree_.write_file("b", "");
  fs::remove(tree_.path("c"));
  ASSERT_EQ(os_->find_next(first.value, entry).value, 1);
  EXPECT_EQ(entry.name, "c");
  EXPECT_EQ(os_->find_next(first.value, entry).last_error, kErrorNoMoreFiles);
  os_->find_close(first.value);
}

TEST_F(PosixOsTest, TwoSearchesRunSideBySide) {
  tree_.write_file("a1", "");
  tree_.write_file("a2", "");
  tree_.write_file("b1", "");
  FindData a;
  FindData b;
  const Result first_a = os_->find_first("a*", a);
  const Result first_b = os_->find_first("b*", b);
  ASSERT_NE(first_a.value, kInvalidHandle);
  ASSERT_NE(first_b.value, kInvalidHandle);
  EXPECT_NE(first_a.value, first_b.value);
  EXPECT_EQ(os_->find_next(first_a.value, a).value, 1);
  EXPECT_EQ(a.name, "a2");
  EXPECT_EQ(os_->find_next(first_b.value, b).last_error, kErrorNoMoreFiles);
  os_->find_close(first_a.value);
  os_->find_close(first_b.value);
}

// Windows searches differ here: an empty folder lists "." and "..", and a file on the way
// is not reported as a missing folder.
TEST_F(PosixOsTest, SearchInAnEmptyFolderIsNoMatchAndThroughAFileIsNoFolder) {
  tree_.write_file("file.txt", "x");
  tree_.make_dir("empty");
  FindData entry;
  Result r = os_->find_first("empty/*", entry);
  EXPECT_EQ(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorFileNotFound);
  r = os_->find_first("file.txt/*", entry);
  EXPECT_EQ(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorPathNotFound);
}

TEST_F(PosixOsTest, SearchNeverReturnsDotEntries) {
  tree_.write_file(".hidden", "");
  tree_.make_dir("sub");
  EXPECT_EQ(names("*"), (Names{".hidden", "sub"}));
  EXPECT_EQ(names(".*"), (Names{".hidden"}));
  EXPECT_EQ(names("sub/*"), Names{});
  FindData entry;
  EXPECT_EQ(os_->find_first(".", entry).last_error, kErrorFileNotFound);
  EXPECT_EQ(os_->find_first("..", entry).last_error, kErrorFileNotFound);
}

// --- Wildcards -------------------------------------------------------------------------

TEST_F(PosixOsTest, WildcardsMatchCaseInsensitivelyInTheLastComponent) {
  for (const char* name : {"PAK0.PAK", "pak.pak", "pak1.pak.bak", "xpak2.pak", "pak3.pa"}) {
    tree_.write_file(name, "");
  }
  EXPECT_EQ(names("pak*.pak"), (Names{"pak.pak", "PAK0.PAK"}));

  for (const char* name : {"e1m1.bsp", "E1M2.BSP", "e1m1.bsp2", "e1m1.bsp.bak", "ee1m1.bsp"}) {
    tree_.write_file(std::string("Maps/") + name, "");
  }
  EXPECT_EQ(names("maps/*.BSP"), (Names{"e1m1.bsp", "E1M2.BSP", "ee1m1.bsp"}));
  EXPECT_EQ(names("MAPS\\?1m?.bsp"), (Names{"e1m1.bsp", "E1M2.BSP"}));
  EXPECT_EQ(names("maps/e1m1.bsp"), (Names{"e1m1.bsp"}));
}

TEST_F(PosixOsTest, StarDotStarMatchesEveryNameDotOrNot) {
  tree_.write_file("README", "");
  tree_.write_file("a.b", "");
  tree_.make_dir("dir");
  EXPECT_EQ(names("*.*"), (Names{"a.b", "dir", "README"}));
}

TEST_F(PosixOsTest, WildcardMatchingStaysFastOnHostilePatterns) {
  tree_.write_file(std::string(250, 'a'), "");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(names("*a*a*a*a*a*a*a*a*a*a*a*a*b"), Names{});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(names("*a*a*a*a*a*a*a*a*a*a*a*a*a"), Names{std::string(250, 'a')});
}

// --- Attributes and what the search passes over ---------------------------------------

TEST_F(PosixOsTest, AttributesFollowModeBitsTypeAndLeadingDot) {
  tree_.write_file("plain", "");
  tree_.write_file("locked", "");
  ASSERT_TRUE(mapsweep::testing::make_read_only(tree_.path("locked")));
  tree_.write_file("groupwrite", "");
  fs::permissions(tree_.path("groupwrite"), fs::perms::owner_read | fs::perms::group_write);
  tree_.write_file(".dotfile", "");
  tree_.make_dir(".dotdir");
  tree_.make_dir("folder");
  fs::create_symlink("plain", tree_.path("link-to-file"));
  fs::create_directory_symlink("folder", tree_.path("link-to-folder"));

  std::map<std::string, std::uint32_t> attributes;
  for (const FindData& entry : find_all("*")) attributes[entry.name] = entry.attributes;
  const std::map<std::string, std::uint32_t> expected = {
      {".dotdir", kAttributeHidden | kAttributeDirectory},
      {".dotfile", kAttributeHidden | kAttributeArchive},
      {"folder", kAttributeDirectory},
      {"groupwrite", kAttributeArchive},
      {"link-to-file", kAttributeArchive},
      {"link-to-folder", kAttributeDirectory},
      {"locked", kAttributeArchive | kAttributeReadOnly},
      {"plain", kAttributeArchive},
  };
  EXPECT_EQ(attributes, expected);
}

TEST_F(PosixOsTest, FifoAndDanglingLinkArePassedOverAndRefusedWithoutHanging) {
  alarm(20);  // a blocking open of the FIFO would hang here: fail loudly instead
  tree_.write_file("PAK1.PAK", "data");
  ASSERT_EQ(mkfifo(tree_.path("pak0.pak").c_str(), 0666), 0);
  fs::create_symlink(tree_.path("gone/pak2.pak"), tree_.path("pak2.pak"));

  EXPECT_EQ(names("pak*.pak"), (Names{"PAK1.PAK"}));
  for (const char* name : {"pak0.pak", "pak2.pak"}) {
    SCOPED_TRACE(name);
    Result r = open_existing(name);
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorAccessDenied);
    r = os_->create_file(name, kGenericRead | kGenericWrite, 0, kOpenAlways);
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorAccessDenied);
  }
  EXPECT_FALSE(tree_.exists("gone"));  // nothing was created through the dangling link
  alarm(0);
}

// --- Names resolved ignoring case ------------------------------------------------------

TEST_F(PosixOsTest, ExistingNameIsOpenedWhateverItsCaseAndNeverDoubled) {
  tree_.write_file("MAPS.LST", "old");
  const Result r = open_output("maps.lst");
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorAlreadyExists);
  EXPECT_EQ(os_->write_file(r.value, "new", 3).value, 3);
  os_->close_handle(r.value);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"MAPS.LST", "new"}}));
}

TEST_F(PosixOsTest, ExactNameWinsElseFirstCaseMatchInNtfsOrder) {
  tree_.write_file("maps.lst", "lower");
  tree_.write_file("Maps.lst", "mixed");
  tree_.write_file("MAPS.LST", "upper");
  const auto contents_of = [&](const std::string& name) {
    const Result r = open_existing(name);
    EXPECT_NE(r.value, kInvalidHandle);
    const std::string bytes = read_all(r.value);
    os_->close_handle(r.value);
    return bytes;
  };
  EXPECT_EQ(contents_of("Maps.lst"), "mixed");
  EXPECT_EQ(contents_of("maps.lst"), "lower");
  EXPECT_EQ(contents_of("maps.LST"), "upper");  // "MAPS.LST" comes first among the others
}

TEST_F(PosixOsTest, EveryComponentOfAPathResolvesIgnoringCase) {
  tree_.write_file("game/Maps/e1m1.BSP", "map");
  const Result r = open_existing("GAME\\maps/E1M1.bsp");
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(read_all(r.value), "map");
  os_->close_handle(r.value);
  EXPECT_EQ(os_->set_current_directory("Game/MAPS").value, 1);
  EXPECT_EQ(names("*"), (Names{"e1m1.BSP"}));
}

TEST_F(PosixOsTest, UnmatchedNameIsCreatedAsGiven) {
  tree_.make_dir("Game");
  const Result r = open_output("GAME/New.Lst");
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorSuccess);
  os_->close_handle(r.value);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"Game/New.Lst", ""}}));
}

TEST_F(PosixOsTest, NamesAreBytesAndOnlyAsciiLettersFoldCase) {
  const std::string latin1_upper = "\xC9T\xC9.txt";  // not UTF-8, and not folded
  tree_.write_file(latin1_upper, "x");
  EXPECT_EQ(names("*.TXT"), Names{latin1_upper});
  EXPECT_EQ(open_existing("\xC9t\xC9.TXT").last_error, kErrorSuccess);
  EXPECT_EQ(open_existing("\xE9t\xE9.txt").last_error, kErrorFileNotFound);
}

// --- The current directory -------------------------------------------------------------

TEST_F(PosixOsTest, CurrentDirectoryIsLogicalThroughSymbolicLinks) {
  tree_.write_file("marker-top", "");
  tree_.write_file("elsewhere/deep/Target/marker-target", "");
  fs::create_directory_symlink(tree_.path("elsewhere/deep/Target"), tree_.path("link"));
  ASSERT_EQ(os_->set_current_directory("LINK").value, 1);
  EXPECT_EQ(names("*"), (Names{"marker-target"}));
  ASSERT_EQ(os_->set_current_directory("..").value, 1);
  EXPECT_EQ(names("marker*"), (Names{"marker-top"}));
  ASSERT_EQ(os_->set_current_directory("link\\.\\..\\link").value, 1);
  EXPECT_EQ(names("marker*"), (Names{"marker-target"}));
}

TEST_F(PosixOsTest, StartsInTheProcessDirectoryAndNeverChangesIt) {
  tree_.write_file("in-tree", "");
  tree_.make_dir("sub");
  const fs::path before = fs::current_path();
  fs::current_path(tree_.root());
  const std::unique_ptr<Os> fresh = make_native_os();
  fs::current_path(before);
  EXPECT_EQ(fresh->set_current_directory("sub").value, 1);
  EXPECT_EQ(fs::current_path(), before);
  FindData entry;
  const Result r = fresh->find_first("..\\in-tree", entry);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(entry.name, "in-tree");
  fresh->find_close(r.value);
}

// --- Read-only and new files -----------------------------------------------------------

// Wine reports 6 here, the handle lacking write access.
TEST_F(PosixOsTest, ReadOnlyFileCannotBeTruncatedThroughAReadHandle) {
  tree_.write_file("readonly.pak", "keep");
  ASSERT_TRUE(mapsweep::testing::make_read_only(tree_.path("readonly.pak")));
  const Result r = os_->create_file("readonly.pak", kGenericRead, 0, kOpenExisting);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(os_->set_end_of_file(r.value).last_error, kErrorAccessDenied);
  os_->close_handle(r.value);
  EXPECT_EQ(tree_.read_file("readonly.pak"), "keep");
}

TEST_F(PosixOsTest, NewFileIsWritableWhateverTheUmask) {
  const mode_t previous = umask(0222);
  const Result r = open_output("new.lst");
  umask(previous);
  ASSERT_NE(r.value, kInvalidHandle);
  EXPECT_EQ(os_->write_file(r.value, "ok", 2).value, 2);
  os_->close_handle(r.value);
  EXPECT_EQ(tree_.read_file("new.lst"), "ok");
}

// --- Reading, writing and handles ------------------------------------------------------

TEST_F(PosixOsTest, WriteCutShortByAFullDiskReportsTheBytesWrittenAnd112) {
  // A file-size limit stands in for a full disk: the kernel takes what fits, then EFBIG.
  const pid_t pid = fork();
  if (pid == 0) {
    const Result r = open_output("full.lst");
    const rlimit limit{10, 10};
    signal(SIGXFSZ, SIG_IGN);
    if (r.value == kInvalidHandle || setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(100);
    const Result written = os_->write_file(r.value, std::string(25, 'x').data(), 25);
    _exit(written.last_error == kErrorDiskFull ? static_cast<int>(written.value) : 101);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 10);
  EXPECT_EQ(tree_.read_file("full.lst"), std::string(10, 'x'));
}

TEST_F(PosixOsTest, LargeReadReturnsEveryByteInOneCall) {
  std::string big(3 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  tree_.write_file("big.pak", big);
  const Result r = open_existing("big.pak");
  ASSERT_NE(r.value, kInvalidHandle);
  std::string into(big.size() + 10, '\0');
  const Result read = os_->read_file(r.value, into.data(), static_cast<std::uint32_t>(into.size()));
  EXPECT_EQ(read.value, static_cast<std::int64_t>(big.size()));
  into.resize(big.size());
  EXPECT_TRUE(into == big);
  os_->close_handle(r.value);
}

TEST_F(PosixOsTest, UnknownHandlesAreRefusedWith6) {
  char byte = 0;
  for (const Handle h : {Handle{0}, Handle{1}, Handle{2}, Handle{9999}, kInvalidHandle}) {
    SCOPED_TRACE(h);
    EXPECT_EQ(os_->close_handle(h).last_error, kErrorInvalidHandle);
    EXPECT_EQ(os_->read_file(h, &byte, 1).last_error, kErrorInvalidHandle);
    EXPECT_EQ(os_->write_file(h, &byte, 1).last_error, kErrorInvalidHandle);
    EXPECT_EQ(os_->set_end_of_file(h).last_error, kErrorInvalidHandle);
  }
  tree_.write_file("f", "");
  const Result r = open_existing("f");
  ASSERT_EQ(os_->close_handle(r.value).value, 1);
  EXPECT_EQ(os_->close_handle(r.value).last_error, kErrorInvalidHandle);
  EXPECT_EQ(os_->read_file(r.value, &byte, 1).last_error, kErrorInvalidHandle);
}

// --- Deleting --------------------------------------------------------------------------

TEST_F(PosixOsTest, DeleteRemovesTheLinkNeverTheTarget) {
  tree_.write_file("target", "kept");
  fs::create_symlink("target", tree_.path("link"));
  EXPECT_EQ(os_->delete_file("LINK").value, 1);
  EXPECT_EQ(tree_.files(), (std::map<std::string, std::string>{{"target", "kept"}}));
  EXPECT_FALSE(tree_.exists("link"));
}

}  // namespace
