// Telling a killed run's folder list from a file of the user's. A run removes its folder
// list at its end; one that is killed (or loses power) first leaves it behind, and without
// a way to know it, every later run would take it for the user's and leave it for good.
#include "app/folder_list.h"

#include <vector>

#include "app/scan_context.h"
#include "runtime/directory_search.h"
#include "runtime/file_channels.h"
#include "runtime/runtime.h"

namespace mapsweep {
namespace {

// The marker line as it stands in the file.
constexpr std::string_view kMarkerLine = "mapsweep folder list\r\n";
static_assert(kMarkerLine.substr(0, kMarkerLine.size() - 2) == kFolderListMarker);
// What a candidate is read in at a time.
constexpr std::int32_t kPiece = 64 * 1024;

bool is_name_byte(unsigned char byte) {
  return byte != '"' && byte != '.' && byte != '\0' && byte != '/';
}

// The names in the current directory that a run may have given its folder list.
std::vector<ByteString> folder_list_names(Runtime& rt) {
  std::vector<ByteString> names;
  ByteString entry = search_first(rt, ByteString("temp*.tmp"), 0);
  while (!entry.empty()) {
    if (is_folder_list_name(entry)) names.push_back(entry);
    entry = search_next(rt);
  }
  end_search(rt);
  rt.err.take_failure();
  return names;
}

// Whether the file of this name holds a whole folder list, read through a channel that
// only reads. A file that cannot be read whole is not known to be one.
bool holds_folder_list(Runtime& rt, const ByteString& name) {
  open_channel(rt, kFolderNamesChannel, name, kBinaryReadMode, 1);
  if (rt.err.take_failure()) return false;
  FolderListShape shape;
  bool read = true;
  for (;;) {
    const std::string_view piece = read_block_view(rt, kFolderNamesChannel, kPiece);
    if (rt.err.take_failure()) {
      read = false;
      break;
    }
    shape.feed(piece);
    if (piece.size() < static_cast<std::size_t>(kPiece) || shape.refused()) break;
  }
  abandon_channel(rt, kFolderNamesChannel);
  rt.err.take_failure();
  return read && shape.whole();
}

// Whether the entry is a plain file now; a failure to ask counts as no.
bool plain_file(Runtime& rt, const ByteString& name) {
  const bool plain = is_plain_file(rt, name);
  return !rt.err.take_failure() && plain;
}

}  // namespace

void FolderListShape::feed(std::string_view bytes) {
  for (const char byte : bytes) {
    if (expect_ == Expect::kNothing) return;
    take(static_cast<unsigned char>(byte));
  }
}

bool FolderListShape::whole() const {
  return expect_ == Expect::kLineStart;
}

bool FolderListShape::refused() const {
  return expect_ == Expect::kNothing;
}

void FolderListShape::take(unsigned char byte) {
  const auto next_if = [&](bool fits, Expect next) { expect_ = fits ? next : Expect::kNothing; };
  switch (expect_) {
    case Expect::kMarker:
      if (byte != static_cast<unsigned char>(kMarkerLine[marker_index_])) {
        expect_ = Expect::kNothing;
      } else if (++marker_index_ == kMarkerLine.size()) {
        expect_ = Expect::kLineStart;
      }
      return;
    case Expect::kLineStart:
      return next_if(byte == '"', Expect::kFirstNameByte);
    case Expect::kFirstNameByte:
      return next_if(is_name_byte(byte), Expect::kName);
    case Expect::kName:
      if (byte == '"') {
        expect_ = Expect::kCr;
        return;
      }
      return next_if(is_name_byte(byte), Expect::kName);
    case Expect::kCr:
      return next_if(byte == '\r', Expect::kLf);
    case Expect::kLf:
      return next_if(byte == '\n', Expect::kLineStart);
    case Expect::kNothing:
      return;
  }
}

bool is_folder_list_name(std::string_view name) {
  constexpr std::string_view kStart = "temp";
  constexpr std::string_view kEnd = ".tmp";
  if (name.size() < kStart.size() + kEnd.size() || !name.starts_with(kStart) ||
      !name.ends_with(kEnd)) {
    return false;
  }
  // temp.tmp, or a number from 1 to 999 written as a run writes it: no leading zero.
  const std::string_view number =
      name.substr(kStart.size(), name.size() - kStart.size() - kEnd.size());
  if (number.empty()) return true;
  if (number.size() > 3 || number.front() == '0') return false;
  return number.find_first_not_of("0123456789") == std::string_view::npos;
}

void remove_leftover_folder_lists(Runtime& rt) {
  for (const ByteString& name : folder_list_names(rt)) {
    // Looked at before it is read and again before it goes: a file put in its place
    // meanwhile, or a link, is not the one that was judged.
    if (!plain_file(rt, name) || !holds_folder_list(rt, name) || !plain_file(rt, name)) continue;
    remove_file(rt, name);
    rt.err.take_failure();
  }
}

}  // namespace mapsweep
