// Rewrites maps.lst in the current directory so that each line stays once, in its place, and
// no line remains that merely begins a longer one (a map name without title next to the
// same name with one). Empty lines are dropped.
#include "app/list_consolidation.h"

#include <algorithm>
#include <new>
#include <string>
#include <unordered_set>

#include "app/scan_context.h"
#include "base/ascii_case.h"
#include "runtime/file_channels.h"

namespace mapsweep {
namespace {

// Reads every line, a 0x1A byte included: the list is read to its real end so that the
// rewrite cannot drop what stood behind such a byte.
void read_list(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  open_channel(rt, kFolderListChannel, ByteString(kListName), kInputModeKeepEof, kListBufferLength);
  rt.err.check_error();
  for (;;) {
    const bool done = at_end(rt, kFolderListChannel) != 0;
    rt.err.check_error();
    if (done) break;
    ++ctx.entry_count;
    assign_element(rt.err, ctx.list_lines, ctx.entry_count, read_line(rt, kFolderListChannel));
    rt.err.check_error();
  }
  close_channel(rt, kFolderListChannel);
  rt.err.check_error();
}

std::vector<std::int32_t> select_lines(DriverState& ctx) {
  std::vector<std::int32_t> staying;
  try {
    staying = lines_that_stay(ctx.list_lines, ctx.entry_count);
    if (ctx.fold_name_case) staying = without_name_case_variants(ctx.list_lines, staying);
  } catch (const std::bad_alloc&) {
    ctx.rt.err.raise_error(rt_error::kOutOfStorage);
  }
  ctx.rt.err.check_error();
  return staying;
}

// Lines a game folder's list is collected up to.
constexpr std::int32_t kLargestCollectedList = 4096;

// The copies go at once: their memory is what stopping may be for.
void stop_collecting(FolderScan& folder) {
  folder.collecting_folder_lines = false;
  std::vector<ByteString>& elements = folder.list_lines.elements;
  for (std::int32_t i = 1; i <= folder.entry_count; ++i) {
    ByteString().swap(elements[static_cast<std::size_t>(i - folder.list_lines.lower)]);
  }
  folder.entry_count = 0;
}

// Either consolidation with its lines at hand: a failure abandons it, the list as it was.
template <class Consolidate>
void consolidate_guarded(DriverState& ctx, Consolidate consolidate) {
  Runtime& rt = ctx.rt;
  ctx.consolidation_changed_file = false;
  ctx.consolidation_failed = false;
  try {
    consolidate();
  } catch (const Trap& trap) {
    ctx.consolidation_failed = true;
    // An abandoned list must not hold its channel (the next folder opens channel 2 again),
    // and a rewrite cut short must not replace the list.
    abandon_channel(rt, kFolderListChannel);
    rethrow_unless_mine(trap, kGeneralRecovery);
    rt.err.arm_recovery(kArchiveRecovery);
    rt.err.clear_error();
  }
  ctx.entry_count = 0;
}

void rewrite_list(DriverState& ctx, const std::vector<std::int32_t>& staying) {
  Runtime& rt = ctx.rt;
  open_channel(rt, kFolderListChannel, ByteString(kListName), kOutputMode, kListBufferLength);
  rt.err.check_error();
  for (const std::int32_t index : staying) {
    write_item(rt, kFolderListChannel, element(ctx.list_lines, index));
    rt.err.check_error();
    end_line(rt, kFolderListChannel);
    rt.err.check_error();
  }
  close_channel(rt, kFolderListChannel);
  rt.err.check_error();
  ctx.consolidation_changed_file = last_close_changed_file(rt);
  ctx.consolidated_lines = static_cast<int>(staying.size());
}

}  // namespace

std::vector<std::int32_t> lines_that_stay(const StringArray& lines, std::int32_t count) {
  std::vector<std::int32_t> order;
  order.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (std::int32_t i = 1; i <= count; ++i) {
    if (!element(lines, i).empty()) order.push_back(i);
  }
  // Every index in the order holds a line, so the sort reads the array's storage directly:
  // it compares lines a million times, and four bytes a line is all it keeps.
  const auto line = [&](std::int32_t index) -> const ByteString& {
    return lines.elements[static_cast<std::size_t>(index - lines.lower)];
  };
  // Ties go by position, so the earliest of equal lines leads its run. Every line that
  // begins with a given line sorts right behind that line's run: one look at the next run
  // decides.
  const auto before = [&](std::int32_t a, std::int32_t b) {
    const int order_of_bytes = line(a).compare(line(b));
    return order_of_bytes != 0 ? order_of_bytes < 0 : a < b;
  };
  // A folder's list comes in the order of its files' names, which is mostly the order
  // sought already: one look spares the sort then.
  if (!std::is_sorted(order.begin(), order.end(), before)) {
    std::sort(order.begin(), order.end(), before);
  }
  std::vector<char> stays(static_cast<std::size_t>(count) + 1, 0);
  std::size_t run = 0;
  while (run < order.size()) {
    const ByteString& first = line(order[run]);
    std::size_t next = run + 1;
    while (next < order.size() && line(order[next]) == first) ++next;
    const bool begins_another = next < order.size() && line(order[next]).starts_with(first);
    if (!begins_another) stays[static_cast<std::size_t>(order[run])] = 1;
    run = next;
  }
  // Sized exactly: the selection of a long list is held while the list is, at the peak of
  // the run's memory.
  std::vector<std::int32_t> staying;
  staying.reserve(static_cast<std::size_t>(std::count(stays.begin(), stays.end(), 1)));
  for (std::int32_t i = 1; i <= count; ++i) {
    if (stays[static_cast<std::size_t>(i)]) staying.push_back(i);
  }
  return staying;
}

std::vector<std::int32_t> without_name_case_variants(const StringArray& lines,
                                                     const std::vector<std::int32_t>& staying) {
  std::unordered_set<std::string> seen;
  seen.reserve(staying.size());
  std::vector<std::int32_t> kept;
  kept.reserve(staying.size());
  for (const std::int32_t index : staying) {
    std::string key = element(lines, index);
    const std::size_t name_end = std::min(key.find(" \""), key.size());
    for (std::size_t at = 0; at < name_end; ++at) {
      key[at] = ascii::upper(key[at]);
    }
    if (seen.insert(std::move(key)).second) kept.push_back(index);
  }
  return kept;
}

// Expects the general recovery armed: any failure abandons the consolidation, and the file
// is rewritten only after it was read whole and the selection made.
void list_consolidation(DriverState& ctx) {
  ctx.entry_count = 0;
  consolidate_guarded(ctx, [&] {
    read_list(ctx);
    rewrite_list(ctx, select_lines(ctx));
  });
}

// Reading the list back would give the very lines collected, so its consolidation needs
// no read; and a list none of whose lines goes is what the closed file holds already.
// This spares two opens and a comparison of every list, and a list with a repeated line
// is written once, consolidated, instead of twice.
void collected_list_consolidation(DriverState& ctx) {
  Runtime& rt = ctx.rt;
  ctx.collecting_folder_lines = false;
  consolidate_guarded(ctx, [&] {
    const std::vector<std::int32_t> staying = select_lines(ctx);
    if (staying.size() == static_cast<std::size_t>(ctx.entry_count)) {
      ctx.consolidated_lines = ctx.entry_count;
      return;
    }
    abandon_channel(rt, kFolderListChannel);
    rewrite_list(ctx, staying);
  });
}

void collect_folder_line(FolderScan& folder, const ByteString& line) {
  if (!folder.collecting_folder_lines) return;
  // A long list is read back instead: its copy would add to the run's memory, and reading
  // it back costs little beside the scan of that many files.
  if (line.empty() || line.find('\r') != ByteString::npos ||
      folder.entry_count == kLargestCollectedList) {
    stop_collecting(folder);
    return;
  }
  // A copy that finds no memory only ends the collecting: the list is then read back.
  ErrorState copying;
  assign_element(copying, folder.list_lines, folder.entry_count + 1, line);
  if (copying.raised_count() != 0) {
    stop_collecting(folder);
    return;
  }
  ++folder.entry_count;
}

}  // namespace mapsweep
