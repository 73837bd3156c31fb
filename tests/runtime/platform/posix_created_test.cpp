// A file the POSIX layer creates exclusively and then cannot keep is taken back. Between
// the create and the lock, another process may open the new file and lock it; the layer
// then refuses the file and must not leave it behind. That moment cannot be met from
// outside, so this test binary stands in for the system's flock: armed, it has a real
// other process take the file's lock first, and the system's own flock then fails as it
// would in that race.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "runtime/platform/os.h"
#include "runtime/platform/posix_created.h"
#include "support/lock_holder.h"
#include "support/native_os_tree.h"

namespace {

namespace fs = std::filesystem;
using namespace mapsweep::os;  // the Windows codes and flags
using mapsweep::testing::LockHolder;

// Armed: the next flock first has another process lock the descriptor's file.
bool lock_taken_first = false;
std::optional<LockHolder> other_holder;

std::string path_of_descriptor(int fd) {
  char target[PATH_MAX];
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  const ssize_t length = ::readlink(link.c_str(), target, sizeof target - 1);
  return length > 0 ? std::string(target, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

// Every flock of this binary comes here; unarmed, it is the system's.
extern "C" int flock(int fd, int operation) {
  using Flock = int (*)(int, int);
  static const auto system_flock = reinterpret_cast<Flock>(::dlsym(RTLD_NEXT, "flock"));
  if (lock_taken_first) {
    // Disarmed before the holder forks, so that its own flock is the system's.
    lock_taken_first = false;
    other_holder.emplace(path_of_descriptor(fd));
  }
  return system_flock(fd, operation);
}

namespace {

class PosixCreatedTest : public mapsweep::testing::NativeOsTree {
 protected:
  void TearDown() override {
    lock_taken_first = false;
    other_holder.reset();
    NativeOsTree::TearDown();
  }
};

// Both ways a file is created: a new file, and one opened for output that was missing.
TEST_F(PosixCreatedTest, ANewFileWhoseLockAnotherProcessTookIsRemoved) {
  for (const std::uint32_t disposition : {kCreateNew, kOpenAlways}) {
    SCOPED_TRACE(disposition);
    lock_taken_first = true;
    const Result r = os_->create_file("temp.tmp", kGenericWrite, 0, disposition);
    EXPECT_EQ(r.value, kInvalidHandle);
    EXPECT_EQ(r.last_error, kErrorSharingViolation);
    EXPECT_TRUE(other_holder.has_value());
    EXPECT_FALSE(tree_.exists("temp.tmp"));
    other_holder.reset();
    // The name is free again: the next try makes the file.
    const Result again = os_->create_file("temp.tmp", kGenericWrite, 0, kCreateNew);
    ASSERT_NE(again.value, kInvalidHandle);
    EXPECT_EQ(os_->close_handle(again.value).value, 1);
    EXPECT_EQ(os_->delete_file("temp.tmp").value, 1);
  }
}

// A file that was there already is the user's, whatever holds it.
TEST_F(PosixCreatedTest, AnExistingFileWhoseLockIsRefusedStays) {
  tree_.write_file("maps.lst", "theirs\r\n");
  lock_taken_first = true;
  const Result r = open_output("maps.lst");
  EXPECT_EQ(r.value, kInvalidHandle);
  EXPECT_EQ(r.last_error, kErrorSharingViolation);
  other_holder.reset();
  EXPECT_EQ(tree_.read_file("maps.lst"), "theirs\r\n");
}

// What stands under the name by the time the file is taken back is left alone: another
// file moved there, or a link (and what it leads to).
TEST_F(PosixCreatedTest, OnlyTheCreatedFileItselfIsTakenBack) {
  tree_.write_file("theirs.txt", "theirs\r\n");
  const std::string created = tree_.path("new.tmp");
  for (const bool link : {false, true}) {
    SCOPED_TRACE(link);
    const int fd = ::open(created.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    if (link) {
      fs::remove(created);
      fs::create_symlink(tree_.path("theirs.txt"), created);
    } else {
      tree_.write_file("moved.tmp", "moved in\r\n");
      fs::rename(tree_.path("moved.tmp"), created);
    }
    mapsweep::os::posix_created::remove_if_still_created(AT_FDCWD, created, fd);
    ::close(fd);
    EXPECT_TRUE(fs::exists(fs::symlink_status(created)));
    EXPECT_EQ(tree_.read_file("theirs.txt"), "theirs\r\n");
    fs::remove(created);
  }
  const int fd = ::open(created.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  ASSERT_GE(fd, 0);
  mapsweep::os::posix_created::remove_if_still_created(AT_FDCWD, created, fd);
  ::close(fd);
  EXPECT_FALSE(fs::exists(fs::symlink_status(created)));
}

}  // namespace
