#include "support/temp_tree.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace mapsweep::testing {
namespace {

#ifdef _WIN32
// The program names files through the ANSI functions, so a name's bytes are in the ANSI
// code page; std::filesystem would take each byte for one UTF-16 unit instead.
fs::path fs_path(const std::string& bytes) {
  const int size = static_cast<int>(bytes.size());
  std::wstring wide(MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, wide.data(), static_cast<int>(wide.size()));
  return fs::path(wide);
}
std::string byte_name(const fs::path& path) {
  const std::wstring& wide = path.native();
  const int size = static_cast<int>(wide.size());
  std::string bytes(WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr),
                    '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), size, bytes.data(), static_cast<int>(bytes.size()),
                      nullptr, nullptr);
  return bytes;
}
std::string generic_byte_name(const fs::path& path) {
  std::string bytes = byte_name(path);
  for (char& c : bytes) c = c == '\\' ? '/' : c;
  return bytes;
}
#else
fs::path fs_path(const std::string& bytes) {
  return fs::path(bytes);
}
std::string byte_name(const fs::path& path) {
  return path.string();
}
std::string generic_byte_name(const fs::path& path) {
  return path.generic_string();
}
#endif

}  // namespace

TempTree::TempTree() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "mapsweep-test-" << stamp << "-" << counter++;
    fs::path candidate = fs::temp_directory_path() / name.str();
    if (fs::create_directory(candidate)) {
      root_ = byte_name(candidate);
      return;
    }
  }
  throw std::runtime_error("cannot create a temporary folder");
}

TempTree::~TempTree() {
  std::error_code ignored;
  // Tests may leave read-only files and folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(fs_path(root_), ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
  }
  fs::remove_all(fs_path(root_), ignored);
}

std::string TempTree::path(const std::string& relative) const {
  return byte_name(fs_path(root_) / fs_path(relative));
}

void TempTree::make_dir(const std::string& relative) const {
  fs::create_directories(fs_path(path(relative)));
}

void TempTree::write_file(const std::string& relative, const std::string& bytes) const {
  const fs::path target = fs_path(path(relative));
  fs::create_directories(target.parent_path());
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + target.string());
}

std::string TempTree::read_file(const std::string& relative) const {
  std::ifstream in(fs_path(path(relative)), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path(relative));
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool TempTree::exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(fs_path(path(relative)), ignored));
}

std::map<std::string, std::string> TempTree::files() const {
  std::map<std::string, std::string> result;
  for (const auto& entry : fs::recursive_directory_iterator(fs_path(root_))) {
    if (!entry.is_regular_file() || entry.is_symlink()) continue;
    const std::string relative = generic_byte_name(fs::relative(entry.path(), fs_path(root_)));
    result[relative] = read_file(relative);
  }
  return result;
}

}  // namespace mapsweep::testing
