#include "runtime/replacement.h"

#include <algorithm>

#include "runtime/directory_search.h"
#include "runtime/error_numbers.h"
#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {
namespace {

// Entries that are no plain writable file of the user's: never written through, replaced
// or deleted.
constexpr std::uint32_t kNeverReplaced = os::kAttributeDirectory | os::kAttributeReparsePoint |
                                         os::kAttributeDevice | os::kAttributeReadOnly;
// Tries at a free sibling name before giving up: with 36^6 names, more than a few
// collisions mean something else is wrong.
constexpr int kSiblingAttempts = 16;
constexpr int kDeleteAttempts = 3;
constexpr std::uint64_t kComparePiece = 64 * 1024;

// The failure's runtime error number, or `otherwise` for a refusal the wrapper passes.
int failure_of(const SystemCall& sc, int otherwise) {
  return sc.failure != 0 ? sc.failure : otherwise;
}

// Holds the file being replaced, if there is one, so that nobody else writes it meanwhile
// and a file held by another program is found out before anything is written. Others may
// still read the old list, and the new one as it grows.
int hold_existing(Runtime& rt, Replacement& r) {
  const SystemCall attributes = system_call([&] { return rt.os.file_attributes(r.target); });
  if (attributes.value == -1) {
    return attributes.last_error == os::kErrorFileNotFound
               ? 0
               : failure_of(attributes, rt_error::kBadFileName);
  }
  if ((static_cast<std::uint32_t>(attributes.value) & kNeverReplaced) != 0) {
    return rt_error::kAccessDenied;
  }
  const SystemCall held = system_call([&] {
    return rt.os.create_file(r.target, os::kGenericRead | os::kGenericWrite, os::kShareRead,
                             os::kOpenExisting);
  });
  const auto handle = static_cast<os::Handle>(held.value);
  if (held.failure == 0 && handle != os::kInvalidHandle) {
    r.held = handle;
    r.replaces_existing = true;
    return 0;
  }
  if (handle != os::kInvalidHandle) rt.os.close_handle(handle);
  // Gone since the look: there is nothing to replace after all.
  if (held.last_error == os::kErrorFileNotFound) return 0;
  return failure_of(held, rt_error::kBadFileName);
}

// Removes a sibling, trying again a few times: a file another program has open for a
// moment (a virus scanner, say) would otherwise stay behind until the next run removes it.
void delete_sibling(Runtime& rt, const std::string& sibling) {
  for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
    const SystemCall sc = system_call([&] { return rt.os.delete_file(sibling); });
    if (sc.failure == 0 && sc.value != 0) break;
  }
}

// The new file takes the owner and mode of the file it replaces (or, replacing none, the
// folder's owner) now, while its own handle is open: its name lies in a folder others may
// write, and later it may name anything. A new file that cannot be settled is removed.
int settle_sibling(Runtime& rt, const Replacement& r, const std::string& sibling,
                   os::Handle created) {
  const SystemCall sc = system_call([&] { return rt.os.settle_ownership(created, r.held); });
  if (sc.failure == 0 && sc.value != 0) return 0;
  system_call([&] { return rt.os.close_handle(created); });
  delete_sibling(rt, sibling);
  return failure_of(sc, rt_error::kPermissionDenied);
}

int create_sibling(Runtime& rt, Replacement& r, os::Handle& handle) {
  for (int attempt = 0; attempt < kSiblingAttempts; ++attempt) {
    const std::string sibling =
        r.target + kSiblingInfix + random_name_part(rt.channels.random_names);
    const SystemCall sc = system_call([&] {
      return rt.os.create_file(sibling, os::kGenericWrite, os::kShareRead, os::kCreateNew);
    });
    const auto created = static_cast<os::Handle>(sc.value);
    if (sc.failure == 0 && created != os::kInvalidHandle) {
      if (const int failure = settle_sibling(rt, r, sibling, created)) return failure;
      r.sibling = sibling;
      handle = created;
      return 0;
    }
    if (created != os::kInvalidHandle) rt.os.close_handle(created);
    if (sc.last_error != os::kErrorFileExists) return failure_of(sc, rt_error::kBadFileName);
  }
  return rt_error::kFileAlreadyExists;
}

// Reads up to `count` bytes at the file pointer; false when the read failed.
bool read_piece(Runtime& rt, os::Handle file, std::string& into, std::uint32_t count) {
  into.resize(count);
  const SystemCall sc = system_call([&] { return rt.os.read_file(file, into.data(), count); });
  if (sc.failure != 0 || sc.value < 0) return false;
  into.resize(static_cast<std::size_t>(sc.value));
  return true;
}

// Whether the held file is `size` bytes long; its file pointer is put back at its start.
bool held_file_rewound(Runtime& rt, const Replacement& r, std::uint64_t size) {
  if (!r.replaces_existing) return false;
  const SystemCall length = system_call([&] { return rt.os.file_size(r.held); });
  if (length.failure != 0 || length.value < 0 || static_cast<std::uint64_t>(length.value) != size) {
    return false;
  }
  return system_call([&] { return rt.os.set_file_pointer(r.held, 0); }).value == 0;
}

// Reads `size` bytes of the held file, piece by piece: whether all came and each piece is
// what `matches(done, piece)` expects for the bytes from `done` on.
template <class Matches>
bool held_pieces_match(Runtime& rt, const Replacement& r, std::uint64_t size, Matches matches) {
  std::string piece;
  for (std::uint64_t done = 0; done < size; done += piece.size()) {
    const auto count =
        static_cast<std::uint32_t>(std::min<std::uint64_t>(kComparePiece, size - done));
    if (!read_piece(rt, r.held, piece, count) || piece.empty() || !matches(done, piece)) {
      return false;
    }
  }
  return true;
}

// Whether the sibling holds exactly the bytes of the file it would replace. Then nothing
// needs replacing, and the file stays as it is, its times included; which also spares the
// file system the flush some make before a file takes another's place. Anything that
// fails here only means the file is replaced.
bool same_as_replaced(Runtime& rt, const Replacement& r) {
  if (!held_file_rewound(rt, r, r.written)) return false;
  const SystemCall opened = system_call(
      [&] { return rt.os.create_file(r.sibling, os::kGenericRead, 0, os::kOpenExisting); });
  const auto sibling = static_cast<os::Handle>(opened.value);
  if (sibling == os::kInvalidHandle) return false;
  std::string theirs;
  const bool same =
      opened.failure == 0 &&
      held_pieces_match(rt, r, r.written, [&](std::uint64_t, const std::string& piece) {
        return read_piece(rt, sibling, theirs, static_cast<std::uint32_t>(piece.size())) &&
               theirs == piece;
      });
  system_call([&] { return rt.os.close_handle(sibling); });
  return same;
}

void release_held(Runtime& rt, Replacement& r) {
  if (r.held == os::kInvalidHandle) return;
  system_call([&] { return rt.os.close_handle(r.held); });
  r.held = os::kInvalidHandle;
}

}  // namespace

std::string random_name_part(std::minstd_rand& random) {
  std::uniform_int_distribution<std::size_t> pick(0, kSiblingAlphabet.size() - 1);
  std::string part;
  for (int i = 0; i < kSiblingRandomLength; ++i) part += kSiblingAlphabet[pick(random)];
  return part;
}

bool is_sibling_name(std::string_view replaced, std::string_view name) {
  const std::string_view infix = kSiblingInfix;
  if (name.size() != replaced.size() + infix.size() + kSiblingRandomLength ||
      !name.starts_with(replaced) || name.substr(replaced.size(), infix.size()) != infix) {
    return false;
  }
  const std::string_view random = name.substr(replaced.size() + infix.size());
  return random.find_first_not_of(kSiblingAlphabet) == std::string_view::npos;
}

void remove_leftover_siblings(Runtime& rt, const std::string& name) {
  // A sibling is named after the file as it is stored (begin_replacement), which may differ
  // from `name` in letter case; a run before the file existed named it after `name`.
  std::string full;
  const SystemCall sc = system_call([&] { return rt.os.full_path(name, full); });
  const std::string stored =
      sc.failure == 0 && sc.value != 0 ? full.substr(full.find_last_of("/\\") + 1) : name;
  // The pattern lets in any letter case and any byte for each '?': the names are judged
  // one by one before anything is deleted.
  const std::string pattern = name + kSiblingInfix + std::string(kSiblingRandomLength, '?');
  delete_files(rt, pattern, [&](std::string_view found) {
    return is_sibling_name(name, found) || is_sibling_name(stored, found);
  });
}

int begin_replacement(Runtime& rt, const std::string& name, Replacement& replacement) {
  const SystemCall full = system_call([&] { return rt.os.full_path(name, replacement.target); });
  if (full.failure != 0 || full.value == 0) return failure_of(full, rt_error::kBadFileName);
  return hold_existing(rt, replacement);
}

int make_sibling(Runtime& rt, Replacement& replacement, os::Handle& handle) {
  return create_sibling(rt, replacement, handle);
}

// A small file is read whole in one call, one byte more than expected asked for: a read
// that comes short of that met the file's end, which tells its length without asking for
// it, nor for the file pointer to be put back.
bool holds_exactly(Runtime& rt, const Replacement& replacement, std::string_view bytes) {
  if (!replacement.replaces_existing) return false;
  if (bytes.size() < kComparePiece) {
    std::string held(bytes.size() + 1, '\0');
    const SystemCall sc = system_call([&] {
      return rt.os.read_file_at(replacement.held, 0, held.data(),
                                static_cast<std::uint32_t>(held.size()));
    });
    return sc.failure == 0 && sc.value == static_cast<std::int64_t>(bytes.size()) &&
           std::string_view(held).substr(0, bytes.size()) == bytes;
  }
  return held_file_rewound(rt, replacement, bytes.size()) &&
         held_pieces_match(rt, replacement, bytes.size(),
                           [&](std::uint64_t done, const std::string& piece) {
                             return bytes.substr(done, piece.size()) == piece;
                           });
}

int commit_replacement(Runtime& rt, Replacement& replacement) {
  if (same_as_replaced(rt, replacement)) {
    discard_replacement(rt, replacement);
    return 0;
  }
  release_held(rt, replacement);
  const SystemCall sc =
      system_call([&] { return rt.os.replace_file(replacement.sibling, replacement.target); });
  if (sc.failure == 0 && sc.value != 0) {
    replacement.sibling.clear();
    replacement.changed = true;
    return 0;
  }
  discard_replacement(rt, replacement);
  return failure_of(sc, rt_error::kPermissionDenied);
}

void discard_replacement(Runtime& rt, Replacement& replacement) {
  release_held(rt, replacement);
  if (replacement.sibling.empty()) return;
  delete_sibling(rt, replacement.sibling);
  replacement.sibling.clear();
}

}  // namespace mapsweep
