// A temporary folder tree for tests: build folders and files with exact bytes, read every
// file back, and remove it all at the end.
#pragma once

#include <map>
#include <string>

namespace mapsweep::testing {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  const std::string& root() const { return root_; }
  // The absolute path of a name relative to the root ("a/b" style).
  std::string path(const std::string& relative) const;
  void make_dir(const std::string& relative) const;
  // Writes exactly these bytes, creating parent folders as needed.
  void write_file(const std::string& relative, const std::string& bytes) const;
  std::string read_file(const std::string& relative) const;
  bool exists(const std::string& relative) const;
  // Every regular file below the root, by relative path with '/', with its bytes.
  std::map<std::string, std::string> files() const;

 private:
  std::string root_;
};

}  // namespace mapsweep::testing
