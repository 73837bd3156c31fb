// A folder built whole under a temporary name beside the one it is for, then moved into
// place, so that whoever looks finds the old folder or the complete new one, never a part.
// The old folder is replaced only when it holds nothing but what `ours` recognises: a
// folder of the same name that someone filled with their own files is left as it was.
// Everything goes by full paths through the OS calls that never follow a link at the name
// they change.
#pragma once

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <string_view>

#include "runtime/platform/os.h"

namespace mapsweep {

class FolderReplacement {
 public:
  enum class Outcome {
    kReplaced,  // the new folder is in place (the old one, if any, is gone)
    kOldKept,   // the old folder holds entries `ours` does not know: nothing changed
    kFailed,    // a call failed (last_error() says which code): nothing changed
  };
  // Whether an entry of the old folder, by its path below it ('/'-separated), is one this
  // kind of folder is made of.
  using Recognises = std::function<bool(std::string_view path, bool is_folder)>;

  FolderReplacement(os::Os& os, std::minstd_rand& random) : os_(os), random_(random) {}
  ~FolderReplacement();
  FolderReplacement(const FolderReplacement&) = delete;
  FolderReplacement& operator=(const FolderReplacement&) = delete;

  // Makes the temporary folder beside `place` (a full path). False on failure. First puts
  // right what a run that was stopped half-way left beside `place`: when `place` is gone, a
  // complete folder left under a temporary name (holding `complete_mark`) takes it back;
  // every other one left there that holds only what `ours` knows is removed.
  bool begin(const std::string& place, const Recognises& ours, std::string_view complete_mark);
  // Adds a folder or a new file at `path` below the temporary folder.
  bool add_folder(std::string_view path);
  bool add_file(std::string_view path, std::string_view bytes);
  // Adds a new file whose bytes `produce` hands piece by piece to the writer it is given
  // (which answers whether the piece was written); false when a piece or `produce` failed.
  using PieceWriter = std::function<bool(std::string_view)>;
  bool add_file_from(std::string_view path, const std::function<bool(const PieceWriter&)>& produce);
  bool remove_file(std::string_view path);
  // Moves the built folder into place; see Outcome. After kOldKept or kFailed the built
  // folder is removed again.
  Outcome commit(const Recognises& ours);
  // Removes the built folder and everything added to it.
  void abandon();

  const std::string& temporary_path() const { return temporary_; }
  std::uint32_t last_error() const { return last_error_; }

 private:
  bool failed(const os::Result& result);
  // Whether a plain folder, not a link, stands at the path; false (last_error() says why)
  // otherwise.
  bool plain_folder_at(const std::string& path);
  std::string sibling_name() const;
  enum class Survey { kOurs, kForeign, kUnreadable };
  // Whether every entry below `folder` is recognised; lists them, deepest first. A folder
  // that cannot be listed to its end is kUnreadable (last_error() says why).
  Survey survey(const std::string& folder, std::string_view below, const Recognises& ours,
                std::vector<std::pair<std::string, bool>>& entries, int depth);
  bool remove_tree(const std::string& folder,
                   const std::vector<std::pair<std::string, bool>>& entries);
  void put_right_leftovers(const Recognises& ours, std::string_view complete_mark);

  os::Os& os_;
  std::minstd_rand& random_;
  std::string place_;
  std::string temporary_;
  // What was added, for abandon() to take away again, in the order added. A folder of tens
  // of thousands of pictures would cost a string and an allocation for each, several
  // megabytes, so the paths stand one after another in one string.
  struct Added {
    std::size_t at = 0;  // in added_paths_
    std::size_t length = 0;
    bool is_folder = false;
    bool removed = false;  // removed with remove_file since
  };
  void note_added(std::string_view path, bool is_folder);
  // The built folder is no longer this one's: put in place, or removed.
  void forget_build();
  std::string_view added_path(const Added& added) const {
    return std::string_view(added_paths_).substr(added.at, added.length);
  }
  std::vector<Added> added_;
  std::string added_paths_;
  std::uint32_t last_error_ = 0;
};

}  // namespace mapsweep
