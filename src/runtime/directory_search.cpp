// The process's one directory search, the change of the current directory and deletion by
// pattern, over the OS interface. One thread uses them, so the search state has no lock.
#include "runtime/directory_search.h"

#include <algorithm>
#include <string_view>

#include "runtime/error_numbers.h"
#include "runtime/platform/name_matching.h"
#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {
namespace {

constexpr std::size_t kPatternLimit = 256;
constexpr std::size_t kPathLimit = 255;
constexpr std::uint32_t kSearchableAttributes = os::kAttributeHidden | os::kAttributeSystem |
                                                os::kAttributeVolumeLabel | os::kAttributeDirectory;
constexpr std::uint32_t kMatchedAttributes =
    os::kAttributeHidden | os::kAttributeSystem | os::kAttributeDirectory;
constexpr std::uint32_t kNeverDeleted = kSearchableAttributes;

// A pattern naming a drive or folder searches everything in it.
void complete_pattern(std::string& pattern) {
  if (pattern.back() == ':' || pattern.back() == '\\') pattern += "*.*";
}

bool matches(const os::FindData& entry, std::uint32_t mask) {
  if (entry.name == "." || entry.name == "..") return false;
  return (entry.attributes & kMatchedAttributes & ~mask) == 0;
}

// After every find call: clears the error state, then passes over entries that do not match.
// Whether a find call that found nothing met the end of the listing, not a failure.
bool ran_out(const SystemCall& r) {
  return r.last_error == os::kErrorNoMoreFiles || r.last_error == os::kErrorFileNotFound;
}

ByteString first_match(Runtime& rt, SystemCall found, os::FindData& entry) {
  for (;;) {
    rt.err.reset();
    if (found.value == 0 || found.value == os::kInvalidHandle) {
      rt.search.exhausted = true;
      rt.search.listing_failed = rt.search.listing_failed || !ran_out(found);
      return {};
    }
    if (matches(entry, rt.search.mask)) return entry.name;
    found = system_call([&] { return rt.os.find_next(rt.search.handle, entry); });
  }
}

}  // namespace

void end_search(Runtime& rt) {
  if (rt.search.handle == os::kInvalidHandle) return;
  system_call([&] { return rt.os.find_close(rt.search.handle); });
  rt.search.handle = os::kInvalidHandle;
}

namespace {

ByteString search_first_unguarded(Runtime& rt, const ByteString& pattern, std::uint32_t mask) {
  std::string system = system_name(pattern, kPatternLimit);
  if (system.empty()) return search_next(rt);
  end_search(rt);
  complete_pattern(system);
  os::FindData entry;
  const SystemCall sc = system_call([&] { return rt.os.find_first(system, entry); });
  const auto handle = static_cast<os::Handle>(sc.value);
  rt.search.exhausted = false;
  rt.search.listing_failed = false;
  if (handle == os::kInvalidHandle) {
    rt.err.reset();
    rt.search.listing_failed = !ran_out(sc);
    return {};
  }
  rt.search.handle = handle;
  rt.search.mask = mask & kSearchableAttributes;
  return first_match(rt, {1, os::kErrorSuccess, 0}, entry);
}

ByteString search_next_unguarded(Runtime& rt) {
  if (rt.search.handle == os::kInvalidHandle) return {};
  // An exhausted search stays exhausted until the next search_first, whatever the folder
  // holds by now.
  if (rt.search.exhausted) {
    rt.err.reset();
    return {};
  }
  os::FindData entry;
  return first_match(rt, system_call([&] { return rt.os.find_next(rt.search.handle, entry); }),
                     entry);
}

// --- deletion ----------------------------------------------------------------------------

bool deletable(const os::FindData& entry) {
  return (entry.attributes & kNeverDeleted) == 0;
}

// Everything up to the last separator; '/' counts too, as paths on POSIX systems use it.
std::string folder_part(const std::string& pattern) {
  const std::size_t last = pattern.find_last_of(":\\/");
  return last == std::string::npos ? std::string() : pattern.substr(0, last + 1);
}

using NameFilter = std::function<bool(std::string_view)>;

// Deletes the matching plain files of an open find that `wanted` accepts; the failure to
// raise, or 0.
int delete_found(Runtime& rt, os::Handle search, const std::string& folder, os::FindData& entry,
                 const NameFilter& wanted) {
  for (;;) {
    if (deletable(entry) && wanted(entry.name)) {
      const std::string path = folder + entry.name;
      const int failure = system_call([&] { return rt.os.delete_file(path); }).failure;
      if (failure != 0) return failure;
    }
    const SystemCall next = system_call([&] { return rt.os.find_next(search, entry); });
    if (next.failure == rt_error::kFileNotFound) return 0;
    if (next.failure != 0) return next.failure;
    // Refused with a code the translation does not cover: stop deleting, silently.
    if (next.value == 0) return 0;
  }
}

void delete_files_unguarded(Runtime& rt, const ByteString& pattern, const NameFilter& wanted) {
  std::string system = system_name(pattern, kPatternLimit);
  if (system.empty()) return;
  complete_pattern(system);
  const std::string folder = folder_part(system);
  os::FindData entry;
  const SystemCall first = system_call([&] { return rt.os.find_first(system, entry); });
  const auto search = static_cast<os::Handle>(first.value);
  if (first.failure != 0 || search == os::kInvalidHandle) {
    if (search != os::kInvalidHandle) rt.os.find_close(search);
    // A refusal with a code of 40 or more (a name the system rejects) deletes nothing and
    // raises nothing, as the wrapper judges such codes no failure.
    if (first.failure != 0) rt.err.raise_error(first.failure);
    return;
  }
  const int failure = delete_found(rt, search, folder, entry, wanted);
  system_call([&] { return rt.os.find_close(search); });
  if (failure != 0) rt.err.raise_error(failure);
}

bool has_wildcard(const std::string& path) {
  return path.find_first_of("*?") != path.npos;
}

}  // namespace

ByteString search_first(Runtime& rt, const ByteString& pattern, std::uint32_t mask) {
  return with_storage(
      rt.err, [&] { return search_first_unguarded(rt, pattern, mask); },
      [] { return ByteString{}; });
}

ByteString search_next(Runtime& rt) {
  return with_storage(
      rt.err, [&] { return search_next_unguarded(rt); }, [] { return ByteString{}; });
}

bool change_directory(Runtime& rt, const ByteString& path) {
  return with_storage(
      rt.err,
      [&] {
        const std::string system = system_name(path, kPathLimit);
        if (has_wildcard(system)) {
          rt.err.raise_error(rt_error::kPathNotFound);
          return false;
        }
        const SystemCall sc = system_call([&] { return rt.os.set_current_directory(system); });
        if (sc.failure != 0) rt.err.raise_error(sc.failure);
        return sc.failure == 0 && sc.value != 0;
      },
      [] { return false; });
}

void delete_files(Runtime& rt, const ByteString& pattern) {
  delete_files(rt, pattern, [](std::string_view) { return true; });
}

void delete_files(Runtime& rt, const ByteString& pattern, const NameFilter& wanted) {
  with_storage(
      rt.err, [&] { delete_files_unguarded(rt, pattern, wanted); }, [] {});
}

void remove_file(Runtime& rt, const ByteString& name) {
  with_storage(
      rt.err,
      [&] {
        const std::string system = system_name(name, kPatternLimit);
        const SystemCall sc = system_call([&] { return rt.os.delete_file(system); });
        if (sc.failure != 0) rt.err.raise_error(sc.failure);
      },
      [] {});
}

void remove_plain_file(Runtime& rt, const ByteString& name) {
  constexpr std::uint32_t kNotPlain =
      os::kAttributeReparsePoint | os::kAttributeDirectory | os::kAttributeDevice;
  const bool plain = with_storage(
      rt.err,
      [&] {
        const std::string system = system_name(name, kPatternLimit);
        const SystemCall sc = system_call([&] { return rt.os.file_attributes(system); });
        return sc.value == -1 || (static_cast<std::uint32_t>(sc.value) & kNotPlain) == 0;
      },
      [] { return false; });
  if (!plain) {
    rt.err.raise_error(rt_error::kAccessDenied);
    return;
  }
  remove_file(rt, name);
}

std::vector<ByteString> names_in_any_case(Runtime& rt, const ByteString& name) {
  std::vector<ByteString> names;
  for (ByteString entry = search_first(rt, name, 0); !entry.empty(); entry = search_next(rt)) {
    const bool same = entry.size() == name.size() &&
                      std::equal(entry.begin(), entry.end(), name.begin(), [](char a, char b) {
                        return os::ascii_upper(a) == os::ascii_upper(b);
                      });
    if (same) names.push_back(entry);
  }
  end_search(rt);
  return names;
}

bool is_plain_file(Runtime& rt, const ByteString& name) {
  constexpr std::uint32_t kNotPlain = os::kAttributeReadOnly | os::kAttributeHidden |
                                      os::kAttributeSystem | os::kAttributeDirectory |
                                      os::kAttributeDevice | os::kAttributeReparsePoint;
  const std::string system = system_name(name, kPatternLimit);
  const SystemCall sc = system_call([&] { return rt.os.file_attributes(system); });
  if (sc.failure != 0) rt.err.raise_error(sc.failure);
  return sc.value != -1 && (static_cast<std::uint32_t>(sc.value) & kNotPlain) == 0;
}

bool is_folder(Runtime& rt, const ByteString& name) {
  const std::string system = system_name(name, kPatternLimit);
  const SystemCall sc = system_call([&] { return rt.os.file_attributes(system); });
  if (sc.failure != 0) rt.err.raise_error(sc.failure);
  return sc.value != -1 && (static_cast<std::uint32_t>(sc.value) & os::kAttributeDirectory) != 0;
}

bool search_listed_whole(const Runtime& rt) {
  return !rt.search.listing_failed;
}

bool lock_current_directory(Runtime& rt) {
  if (rt.lock.handle != os::kInvalidHandle) return true;
  const SystemCall sc = system_call([&] { return rt.os.lock_folder("."); });
  if (sc.value == os::kInvalidHandle) {
    rt.err.raise_error(sc.failure != 0 ? sc.failure : rt_error::kPermissionDenied);
    return false;
  }
  rt.lock.handle = static_cast<os::Handle>(sc.value);
  return true;
}

void unlock_directory(Runtime& rt) {
  if (rt.lock.handle == os::kInvalidHandle) return;
  system_call([&] { return rt.os.unlock_folder(rt.lock.handle); });
  rt.lock.handle = os::kInvalidHandle;
}

void release_free_memory(Runtime& rt) {
  rt.os.release_free_memory();
}

bool encloses_current_directory(Runtime& rt, const ByteString& path) {
  const std::string system = system_name(path, kPathLimit);
  return system_call([&] { return rt.os.encloses_current_directory(system); }).value == 1;
}

}  // namespace mapsweep
