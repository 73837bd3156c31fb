#include "app/exact_maps.h"

#include <algorithm>
#include <climits>

#include "app/catalog.h"
#include "app/messages.h"
#include "app/scan_context.h"
#include "base/ascii_case.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// The digit run starting at `at`.
std::string_view digit_run(std::string_view s, std::size_t at) {
  std::size_t end = at;
  while (end < s.size() && is_digit(s[end])) ++end;
  return s.substr(at, end - at);
}

// Compares two digit runs by value, of any length: negative, 0 or positive.
int compare_values(std::string_view a, std::string_view b) {
  const auto significant = [](std::string_view run) {
    const std::size_t first = run.find_first_not_of('0');
    return first == std::string_view::npos ? std::string_view() : run.substr(first);
  };
  const std::string_view va = significant(a);
  const std::string_view vb = significant(b);
  if (va.size() != vb.size()) return va.size() < vb.size() ? -1 : 1;
  return va.compare(vb);
}

// By value, then the run with fewer digits first.
int compare_numbers(std::string_view a, std::string_view b) {
  if (const int by_value = compare_values(a, b); by_value != 0) return by_value;
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return 0;
}

// N of "pakN.pak" in any letter case, or no value for another name.
std::optional<std::string_view> pack_number(std::string_view name) {
  if (name.size() < 8 || !ascii::equal_ignoring_case(name.substr(0, 3), "PAK") ||
      !ascii::equal_ignoring_case(name.substr(name.size() - 4), ".PAK")) {
    return std::nullopt;
  }
  const std::string_view digits = name.substr(3, name.size() - 7);
  if (digit_run(digits, 0).size() != digits.size()) return std::nullopt;
  return digits;
}

}  // namespace

bool natural_less(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    if (is_digit(a[i]) && is_digit(b[j])) {
      const std::string_view ra = digit_run(a, i);
      const std::string_view rb = digit_run(b, j);
      if (const int order = compare_numbers(ra, rb); order != 0) return order < 0;
      i += ra.size();
      j += rb.size();
      continue;
    }
    // A digit run against another piece, or two other pieces: their first bytes decide.
    const auto ca = static_cast<unsigned char>(ascii::upper(a[i]));
    const auto cb = static_cast<unsigned char>(ascii::upper(b[j]));
    if (ca != cb) return ca < cb;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return j < b.size();
  return a < b;
}

std::vector<std::size_t> pack_load_order(const std::vector<std::string>& names) {
  std::vector<std::size_t> order(names.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) {
    const std::optional<std::string_view> nx = pack_number(names[x]);
    const std::optional<std::string_view> ny = pack_number(names[y]);
    if (nx && ny) return compare_values(*nx, *ny) < 0;
    return nx.has_value() && !ny.has_value();
  });
  return order;
}

namespace {

// The copy `loser` goes under `winner` in the catalogue, with every copy it hid.
void hide_under(ExactScanState& exact, FoundMap& winner, FoundMap& loser) {
  if (!winner.catalog || !loser.catalog) return;
  auto& hidden = winner.catalog->hidden;
  hidden.emplace_back(loser.precedence, std::move(loser.catalog->map.source));
  for (auto& copy : loser.catalog->hidden) hidden.push_back(std::move(copy));
  if (!loser.catalog->map.picture.empty()) {
    exact.unused_pictures.push_back(std::move(loser.catalog->map.picture));
  }
}

}  // namespace

void offer_map(ExactScanState& exact, FoundMap map) {
  if (map.name.empty()) return;
  const auto [at, inserted] = exact.maps.try_emplace(ascii::upper(map.name), std::move(map));
  if (inserted) return;
  if (at->second.precedence < map.precedence) {
    hide_under(exact, map, at->second);
    at->second = std::move(map);
  } else {
    hide_under(exact, at->second, map);
  }
}

DataFileSource::DataFileSource(FolderScan& folder, const ByteString& file_name)
    : folder_(folder), file_name_(file_name) {
  const std::int64_t length = channel_length(folder.rt, kDataChannel);
  usable_ = !take_data_file_failure(folder, file_name) && length >= 0;
  if (usable_) size_ = static_cast<std::uint64_t>(length);
}

bool DataFileSource::read(std::uint64_t offset, std::size_t count, std::string& into) {
  if (!usable_ || offset > size_ || count > static_cast<std::size_t>(INT32_MAX)) return false;
  if (size_ <= kReadWholeUpTo) {
    if (!whole_ && !read_whole()) return false;
    into.assign(*whole_, static_cast<std::size_t>(offset), count);
  } else {
    into = read_block_at(folder_.rt, kDataChannel, static_cast<std::int64_t>(offset),
                         static_cast<std::int32_t>(count));
    if (take_data_file_failure(folder_, file_name_)) return false;
    note_bytes_read(folder_, into.size());
  }
  if (into.size() == count) return true;
  note_changed_while_read();
  return false;
}

// A small file's windows (its directory, each map's header and entity text) are read in one
// call: a call costs more than the few kilobytes it brings beyond them.
bool DataFileSource::read_whole() {
  whole_ = read_block_at(folder_.rt, kDataChannel, 0, static_cast<std::int32_t>(size_));
  if (take_data_file_failure(folder_, file_name_)) {
    whole_.reset();
    return false;
  }
  note_bytes_read(folder_, whole_->size());
  if (whole_->size() == size_) return true;
  // Cut short since it was opened: said once, and nothing more is read of it.
  usable_ = false;
  note_changed_while_read();
  return false;
}

void DataFileSource::note_changed_while_read() {
  note_passed_over(folder_, report_path(folder_, file_name_),
                   english_reason(Message::kReasonChangedWhileRead));
  folder_.incomplete = true;
}

ByteString report_path(const FolderScan& folder, std::string_view name) {
  ByteString path = folder.folder_name + "/";
  if (folder.in_maps) path += "maps/";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    path += byte < 0x20 || byte == 0x7F ? '?' : c;
  }
  return path;
}

bool open_data_file(FolderScan& folder, ExactScanState& exact, const std::string& name) {
  assign(folder.rt.err, exact.file_name, name);
  open_channel(folder.rt, kDataChannel, name, kBinaryReadMode, kInputBufferLength);
  return !take_data_file_failure(folder, exact.file_name);
}

void close_data_file(FolderScan& folder) {
  close_channel(folder.rt, kDataChannel);
  folder.rt.err.take_failure();
}

void write_exact_maps(FolderScan& folder, ExactScanState& exact) {
  std::vector<const FoundMap*> maps;
  for (const auto& [key, map] : exact.maps) maps.push_back(&map);
  std::sort(maps.begin(), maps.end(),
            [](const FoundMap* x, const FoundMap* y) { return natural_less(x->name, y->name); });
  // A list that cannot be written ends the folder's lines: what follows would be missed in
  // it all the same, and the channel keeps the list from being replaced. Its failure is
  // taken like that of any other exact step, so no recovery is needed.
  for (const FoundMap* map : maps) {
    if (!write_map_entry_line_taking_failure(folder, map->name, map->title)) break;
  }
  if (exact.catalog != nullptr) {
    add_folder_maps(*exact.catalog, folder, maps);
    for (const std::string& picture : exact.unused_pictures) drop_picture(*exact.catalog, picture);
  }
  exact.unused_pictures.clear();
  exact.maps.clear();
}

}  // namespace mapsweep
