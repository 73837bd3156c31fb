#include "runtime/folder_replacement.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "runtime/replacement.h"

namespace mapsweep {
namespace {

// A folder of ours never goes deeper than this; one that does is not ours.
constexpr int kDeepestRecognised = 4;
// Bytes handed to one write call.
constexpr std::size_t kWritePiece = 1u << 20;

std::string joined(const std::string& folder, std::string_view path) {
  return folder + "/" + std::string(path);
}

// A folder, not a link to one (nor a junction).
bool is_plain_folder(std::uint32_t attributes) {
  return (attributes & os::kAttributeDirectory) != 0 &&
         (attributes & os::kAttributeReparsePoint) == 0;
}

}  // namespace

FolderReplacement::~FolderReplacement() {
  if (!temporary_.empty()) abandon();
}

bool FolderReplacement::failed(const os::Result& result) {
  if (result.value != 0) return false;
  last_error_ = result.last_error != 0 ? result.last_error : os::kErrorGenFailure;
  return true;
}

std::string FolderReplacement::sibling_name() const {
  return place_ + kSiblingInfix + random_name_part(random_);
}

void FolderReplacement::put_right_leftovers(const Recognises& ours,
                                            std::string_view complete_mark) {
  const std::size_t slash = place_.find_last_of("/\\");
  const std::string folder = slash == std::string::npos ? "." : place_.substr(0, slash);
  const std::string leaf = place_.substr(slash + 1);
  const std::string prefix = leaf + kSiblingInfix;
  os::FindData found;
  const os::Result search = os_.find_first(joined(folder, prefix + "*"), found);
  if (search.value == os::kInvalidHandle) return;
  std::vector<std::string> leftovers;
  for (bool more = true; more; more = os_.find_next(search.value, found).value != 0) {
    if (is_plain_folder(found.attributes) && is_sibling_name(leaf, found.name)) {
      leftovers.push_back(joined(folder, found.name));
    }
  }
  os_.find_close(search.value);
  bool place_taken = os_.file_attributes(place_).value != -1;
  for (const std::string& leftover : leftovers) {
    std::vector<std::pair<std::string, bool>> entries;
    if (survey(leftover, {}, ours, entries, 1) != Survey::kOurs) continue;
    const bool complete = std::any_of(entries.begin(), entries.end(), [&](const auto& entry) {
      return entry.first == complete_mark;
    });
    if (!place_taken && complete && os_.move_entry(leftover, place_).value != 0) {
      place_taken = true;
      continue;
    }
    remove_tree(leftover, entries);
  }
}

bool FolderReplacement::begin(const std::string& place, const Recognises& ours,
                              std::string_view complete_mark) {
  place_ = place;
  if (place_.empty()) {
    last_error_ = os::kErrorInvalidName;
    return false;
  }
  put_right_leftovers(ours, complete_mark);
  // A name some other entry holds (left by a killed run, or put there) is passed by.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::string name = sibling_name();
    const os::Result made = os_.create_directory(name);
    if (made.value != 0) {
      temporary_ = name;
      return true;
    }
    if (made.last_error != os::kErrorAlreadyExists) return !failed(made);
  }
  last_error_ = os::kErrorAlreadyExists;
  return false;
}

bool FolderReplacement::add_folder(std::string_view path) {
  if (failed(os_.create_directory(joined(temporary_, path)))) return false;
  note_added(path, true);
  return true;
}

bool FolderReplacement::add_file(std::string_view path, std::string_view bytes) {
  return add_file_from(path, [&](const PieceWriter& write) { return write(bytes); });
}

bool FolderReplacement::add_file_from(std::string_view path,
                                      const std::function<bool(const PieceWriter&)>& produce) {
  const os::Result opened =
      os_.create_file(joined(temporary_, path), os::kGenericWrite, 0, os::kCreateNew);
  if (opened.value == os::kInvalidHandle) return !failed({0, opened.last_error});
  note_added(path, false);
  const auto write = [&](std::string_view bytes) {
    for (std::size_t at = 0; at < bytes.size(); at += kWritePiece) {
      const auto count = static_cast<std::uint32_t>(std::min(kWritePiece, bytes.size() - at));
      const os::Result wrote = os_.write_file(opened.value, bytes.data() + at, count);
      if (failed(wrote)) return false;
      if (wrote.value != count) {
        last_error_ = os::kErrorDiskFull;  // a short write: the disk is full
        return false;
      }
    }
    return true;
  };
  const bool written = produce(write);
  const bool closed = !failed(os_.close_handle(opened.value));
  return written && closed;
}

bool FolderReplacement::remove_file(std::string_view path) {
  if (failed(os_.delete_file(joined(temporary_, path)))) return false;
  // The latest entry of that path: an earlier one of the same path was removed before it was
  // added again.
  for (auto entry = added_.rbegin(); entry != added_.rend(); ++entry) {
    if (!entry->removed && added_path(*entry) == path) {
      entry->removed = true;
      break;
    }
  }
  return true;
}

void FolderReplacement::note_added(std::string_view path, bool is_folder) {
  added_.push_back({added_paths_.size(), path.size(), is_folder, false});
  added_paths_ += path;
}

FolderReplacement::Survey FolderReplacement::survey(
    const std::string& folder, std::string_view below, const Recognises& ours,
    std::vector<std::pair<std::string, bool>>& entries, int depth) {
  const std::string prefix = below.empty() ? std::string() : std::string(below) + "/";
  os::FindData found;
  const os::Result search = os_.find_first(joined(folder, prefix + "*"), found);
  if (search.value == os::kInvalidHandle) {
    if (search.last_error == os::kErrorFileNotFound) return Survey::kOurs;  // empty
    failed({0, search.last_error});
    return Survey::kUnreadable;
  }
  std::vector<std::pair<std::string, bool>> here;
  Survey outcome = Survey::kOurs;
  for (;;) {
    const bool link = (found.attributes & os::kAttributeReparsePoint) != 0;
    const bool is_folder = (found.attributes & os::kAttributeDirectory) != 0;
    const std::string path = prefix + found.name;
    if (found.name != "." && found.name != "..") {
      if (link || !ours(path, is_folder) || (is_folder && depth >= kDeepestRecognised)) {
        outcome = Survey::kForeign;
        break;
      }
      here.emplace_back(path, is_folder);
    }
    const os::Result next = os_.find_next(search.value, found);
    if (next.value != 0) continue;
    // Anything but the end of the listing leaves its end unknown.
    if (next.last_error != os::kErrorNoMoreFiles) {
      failed(next);
      outcome = Survey::kUnreadable;
    }
    break;
  }
  os_.find_close(search.value);
  if (outcome != Survey::kOurs) return outcome;
  for (const auto& [path, is_folder] : here) {
    if (is_folder) {
      const Survey inner = survey(folder, path, ours, entries, depth + 1);
      if (inner != Survey::kOurs) return inner;
    }
    entries.emplace_back(path, is_folder);
  }
  return Survey::kOurs;
}

// Entries come deepest first, so each folder is empty when its turn comes. What a call
// failed to remove is tried once more after the rest: a file another program had open a
// moment ago may have been let go by then.
bool FolderReplacement::remove_tree(const std::string& folder,
                                    const std::vector<std::pair<std::string, bool>>& entries) {
  std::vector<std::pair<std::string, bool>> left;
  for (int pass = 0; pass < 2; ++pass) {
    const auto& these = pass == 0 ? entries : std::exchange(left, {});
    for (const auto& [path, is_folder] : these) {
      const std::string full = joined(folder, path);
      const os::Result removed = is_folder ? os_.remove_directory(full) : os_.delete_file(full);
      if (failed(removed)) left.emplace_back(path, is_folder);
    }
    if (left.empty() && !failed(os_.remove_directory(folder))) return true;
  }
  return false;
}

bool FolderReplacement::plain_folder_at(const std::string& path) {
  const os::Result attributes = os_.file_attributes(path);
  if (failed({attributes.value != -1 ? 1 : 0, attributes.last_error})) return false;
  if (is_plain_folder(static_cast<std::uint32_t>(attributes.value))) return true;
  last_error_ = os::kErrorAccessDenied;
  return false;
}

FolderReplacement::Outcome FolderReplacement::commit(const Recognises& ours) {
  // What stands at the temporary name must still be the folder built: one its folder's
  // owner swapped for a link, or for anything else, is not put in place (the build went on
  // in the folder made, wherever it was moved). A swap in the moment between this look and
  // the move below would still be moved; the name is then the owner's link, as they could
  // make it at any time after the run.
  if (!plain_folder_at(temporary_)) {
    abandon();
    return Outcome::kFailed;
  }
  const os::Result old_attributes = os_.file_attributes(place_);
  const bool old_exists = old_attributes.value != -1;
  std::vector<std::pair<std::string, bool>> old_entries;
  if (old_exists) {
    const bool plain_folder = is_plain_folder(static_cast<std::uint32_t>(old_attributes.value));
    const Survey old = plain_folder ? survey(place_, {}, ours, old_entries, 1) : Survey::kForeign;
    if (old != Survey::kOurs) {
      abandon();
      return old == Survey::kForeign ? Outcome::kOldKept : Outcome::kFailed;
    }
  }
  // The old folder steps aside under a name of its own first: the new one then takes a
  // name nobody has, and the old one is removed only once the new one stands.
  const std::string old_aside = old_exists ? sibling_name() : std::string();
  if (old_exists && failed(os_.move_entry(place_, old_aside))) {
    abandon();
    return Outcome::kFailed;
  }
  if (failed(os_.move_entry(temporary_, place_))) {
    if (old_exists) os_.move_entry(old_aside, place_);
    abandon();
    return Outcome::kFailed;
  }
  forget_build();
  // What is left of the old folder when a removal fails is only a stray copy beside it.
  if (old_exists) remove_tree(old_aside, old_entries);
  return Outcome::kReplaced;
}

void FolderReplacement::abandon() {
  if (temporary_.empty()) return;
  std::vector<std::pair<std::string, bool>> entries;
  for (auto entry = added_.rbegin(); entry != added_.rend(); ++entry) {
    if (!entry->removed) entries.emplace_back(std::string(added_path(*entry)), entry->is_folder);
  }
  const std::uint32_t kept_error = last_error_;
  remove_tree(temporary_, entries);
  last_error_ = kept_error;
  forget_build();
}

void FolderReplacement::forget_build() {
  temporary_.clear();
  added_.clear();
  added_paths_.clear();
}

}  // namespace mapsweep
