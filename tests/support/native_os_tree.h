// The fixture of the platform layer's tests: this build's native OS, unwrapped, with a
// fresh temporary tree as its current directory, and the calls those tests make again
// and again. Test fixtures inherit it.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "runtime/platform/os.h"
#include "support/temp_tree.h"

namespace mapsweep::testing {

class NativeOsTree : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(os_->set_current_directory(tree_.root()).value, 1); }
  // On Windows the layer's current directory is the process's, and a process's current
  // directory cannot be removed: the process goes back before the tree is removed.
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(process_directory_, ignored);
  }

  os::Result open_existing(const std::string& name, std::uint32_t access = os::kGenericRead) {
    return os_->create_file(name, access, 0, os::kOpenExisting);
  }
  // How the runtime opens a file for output: write access, created when missing.
  os::Result open_output(const std::string& name) {
    return os_->create_file(name, os::kGenericWrite, 0, os::kOpenAlways);
  }
  // What one read of up to 4096 bytes gives, which must report no error.
  std::string read_all(os::Handle file) {
    std::string bytes(4096, '\0');
    const os::Result r =
        os_->read_file(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_EQ(r.last_error, os::kErrorSuccess);
    bytes.resize(static_cast<std::size_t>(r.value));
    return bytes;
  }
  // Every entry of a search in the order the system gives them, checking that it ends
  // with 18 and closes cleanly; none when nothing matched.
  std::vector<os::FindData> find_all(const std::string& pattern) {
    std::vector<os::FindData> found(1);
    const os::Result first = os_->find_first(pattern, found[0]);
    if (first.value == os::kInvalidHandle) return {};
    os::FindData next;
    os::Result r;
    while ((r = os_->find_next(first.value, next)).value == 1) found.push_back(next);
    EXPECT_EQ(r.last_error, os::kErrorNoMoreFiles);
    EXPECT_EQ(os_->find_close(first.value).value, 1);
    return found;
  }
  std::vector<std::string> names(const std::string& pattern) {
    std::vector<std::string> result;
    for (const os::FindData& entry : find_all(pattern)) result.push_back(entry.name);
    return result;
  }

  const std::filesystem::path process_directory_ = std::filesystem::current_path();
  TempTree tree_;
  std::unique_ptr<os::Os> native_ = os::make_native_os();
  // The layer under test: the native one, or one a fixture wraps around it before SetUp.
  os::Os* os_ = native_.get();
};

}  // namespace mapsweep::testing
