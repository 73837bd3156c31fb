#include "support/temp_tree.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace mapsweep::testing {

TempTree::TempTree() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "mapsweep-test-" << stamp << "-" << counter++;
    fs::path candidate = fs::temp_directory_path() / name.str();
    if (fs::create_directory(candidate)) {
      root_ = candidate.string();
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempTree::~TempTree() {
  std::error_code ignored;
  // Tests may leave read-only files and folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(root_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(root_, ignored);
}

std::string TempTree::path(const std::string& relative) const {
  return (fs::path(root_) / relative).string();
}

void TempTree::make_dir(const std::string& relative) const {
  fs::create_directories(path(relative));
}

void TempTree::write_file(const std::string& relative, const std::string& bytes) const {
  const fs::path target = path(relative);
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

std::string TempTree::read_file(const std::string& relative) const {
  std::ifstream in(path(relative), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path(relative));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool TempTree::exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(path(relative), ignored));
}

std::map<std::string, std::string> TempTree::files() const {
  std::map<std::string, std::string> result;
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    const std::string relative = fs::relative(entry.path(), root_).generic_string();
    result[relative] = read_file(relative);
  }
  return result;
}

}  // namespace mapsweep::testing
