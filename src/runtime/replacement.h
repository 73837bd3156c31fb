// Replacing a file whole. What an output channel writes goes to a new sibling file, created
// exclusively beside the file it replaces; only when the channel closes after every write
// went through does the sibling take the file's place, in one step. Until then, and for
// good when anything failed, the old file stays as it was, byte for byte. A file that is a
// link, a folder, read-only or held by another program is never replaced.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "runtime/platform/os.h"

namespace mapsweep {

struct Runtime;

// Every sibling's name: the replaced file's name, this infix and six random letters and
// digits, so that a run killed half-way leaves files the next run can recognise.
inline constexpr char kSiblingInfix[] = ".mapsweep-";
inline constexpr int kSiblingRandomLength = 6;
inline constexpr std::string_view kSiblingAlphabet =
    "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

struct Replacement {
  std::string target;                    // full path of the file replaced (may not exist)
  std::string sibling;                   // full path of the new file being written
  os::Handle held = os::kInvalidHandle;  // the existing file, held exclusively until commit
  bool replaces_existing = false;
  std::uint64_t written = 0;  // bytes written to the sibling so far
  bool changed = false;       // the commit put other bytes in the file's place
};

// Checks the file to be replaced and holds it. Returns 0, or the runtime error number of
// the failure (nothing is held then).
int begin_replacement(Runtime& rt, const std::string& name, Replacement& replacement);
// Creates the sibling for writing, once there is something to write to it, and gives it
// through its handle the owner and mode of the file it replaces (or of a new file in its
// folder); its handle goes to `handle`. Returns 0, or the runtime error number of the
// failure.
int make_sibling(Runtime& rt, Replacement& replacement, os::Handle& handle);
// Whether the file being replaced holds exactly `bytes`: then no sibling is needed at all.
bool holds_exactly(Runtime& rt, const Replacement& replacement, std::string_view bytes);
// Puts the sibling, whose handle the caller has closed, in the file's place; a sibling that
// holds exactly the file's bytes is removed instead, leaving the file as it was. Returns 0,
// or the runtime error number of the failure (the sibling is removed then).
int commit_replacement(Runtime& rt, Replacement& replacement);
// Removes the sibling and lets go of the file, which stays as it was.
void discard_replacement(Runtime& rt, Replacement& replacement);

// Six random letters and digits.
std::string random_name_part(std::minstd_rand& random);
// Whether `name` is one this code could have given a sibling of the file named `replaced`
// (its bare name, in the letter case it is stored in): exactly that, the infix, and six
// characters of the alphabet.
bool is_sibling_name(std::string_view replaced, std::string_view name);
// Removes what a run killed half-way through replacing the file `name` (a bare name in the
// current directory) left beside it, and nothing else: only names this code could have
// given its siblings. Failures are raised as delete_files raises them.
void remove_leftover_siblings(Runtime& rt, const std::string& name);

}  // namespace mapsweep
