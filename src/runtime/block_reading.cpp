// Block reading: a disk file is read ahead into one reused buffer (and, where views are
// asked for, the rest of a large one lent from views of it); a device is read block by
// block.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string_view>

#include "runtime/channel.h"
#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {
namespace {

void note_block(Channel& c, std::int64_t came, std::int32_t count) {
  c.transferred = static_cast<std::uint32_t>(came);
  c.block.at_end_flag = came < count;
}

// One read call of count bytes at the file pointer, with nothing read ahead.
ByteString read_direct(Runtime& rt, Channel& c, std::int32_t count) {
  ByteString block(static_cast<std::size_t>(count), '\0');
  const SystemCall sc = system_call(
      [&] { return rt.os.read_file(c.handle, block.data(), static_cast<std::uint32_t>(count)); });
  if (sc.failure != 0) {
    rt.err.raise_error(sc.failure);
    return {};
  }
  const std::int64_t came = std::clamp<std::int64_t>(sc.value, 0, count);
  note_block(c, came, count);
  block.resize(static_cast<std::size_t>(came));
  return block;
}

std::uint64_t next_offset(const BlockSource& s) {
  return s.source_offset + static_cast<std::uint64_t>(s.read_index);
}

// Where the next bytes lie: the view, while there is one, else the bytes read ahead.
const char* source_of(const BlockSource& s) {
  return s.view != nullptr ? s.view : reinterpret_cast<const char*>(s.read_ahead.get());
}

// Lets go of the view, if any. Nothing depends on the outcome: the bytes it lent are no
// longer looked at.
void release_view(Runtime& rt, BlockSource& s) {
  if (s.view == nullptr) return;
  rt.os.unmap_view(s.view, s.view_length);
  s.view = nullptr;
  s.view_length = 0;
}

// The source is now nothing but where the next byte lies.
void empty_source(Runtime& rt, BlockSource& s) {
  const std::uint64_t next = next_offset(s);
  release_view(rt, s);
  s.source_offset = next;
  s.read_index = 0;
  s.read_fill = 0;
  s.end_seen = false;
}

// Whether the bytes a view lent since the last look were the file's: reading them may have
// met a fault (the file cut short meanwhile, a failing disk), which fails the read as a
// read call meeting the same would fail.
int check_view(Runtime& rt, BlockSource& s) {
  if (s.view == nullptr) return 0;
  const std::uint64_t faults = rt.os.view_faults();
  if (faults == s.faults_seen) return 0;
  s.faults_seen = faults;
  return translate_system_error(os::kErrorCrc);
}

// The spare buffer when it has the length asked for now, else a new one.
void take_read_ahead_buffer(ChannelList& channels, BlockSource& s) {
  s.read_ahead_length = std::max(channels.read_ahead_length, 1);
  if (channels.spare_read_ahead && channels.spare_read_ahead_length == s.read_ahead_length) {
    s.read_ahead = std::move(channels.spare_read_ahead);
  } else {
    s.read_ahead = std::make_unique_for_overwrite<unsigned char[]>(
        static_cast<std::size_t>(s.read_ahead_length));
  }
}

// Reads ahead at the next offset (seeking there first after views, which do not move the
// file pointer). A failure leaves nothing read ahead.
int read_ahead(Runtime& rt, Channel& c) {
  BlockSource& s = c.block;
  if (!s.read_ahead) take_read_ahead_buffer(rt.channels, s);
  empty_source(rt, s);
  if (!c.pointer_known) {
    const SystemCall seek = system_call([&] {
      return rt.os.set_file_pointer(c.handle, static_cast<std::int64_t>(s.source_offset));
    });
    if (seek.failure != 0 || seek.value < 0) {
      return seek.failure != 0 ? seek.failure : rt_error::kInternal;
    }
    c.pointer_known = true;
  }
  const auto length = static_cast<std::uint32_t>(s.read_ahead_length);
  const SystemCall sc =
      system_call([&] { return rt.os.read_file(c.handle, s.read_ahead.get(), length); });
  if (sc.failure != 0) {
    // A failed read may have moved the file pointer by what it read before it failed: the
    // next read seeks to where this one began.
    c.pointer_known = false;
    return sc.failure;
  }
  s.read_fill =
      static_cast<std::int32_t>(std::clamp<std::int64_t>(sc.value, 0, s.read_ahead_length));
  s.end_seen = s.read_fill < s.read_ahead_length;
  return 0;
}

enum class ViewOutcome { kMapped, kEnd, kNoView };

// Views the file from the next byte on: the kViewLength bytes from the multiple of
// kViewLength at or before it, up to the end the system gives now (the file may have grown
// or shrunk since it was last asked). Views in step with the length let the system map a
// view with one large page where it keeps the file in large pieces, which spares the
// processor thousands of address translations per view.
ViewOutcome view_next(Runtime& rt, Channel& c) {
  BlockSource& s = c.block;
  const std::uint64_t next = next_offset(s);
  const SystemCall size = system_call([&] { return rt.os.file_size(c.handle); });
  if (size.failure != 0 || size.value < 0) return ViewOutcome::kNoView;  // reading says why
  const auto file_end = static_cast<std::uint64_t>(size.value);
  // Asked first right after the first read ahead: a smaller file is read to its end.
  if (s.view == nullptr && size.value < kViewsFrom) {
    s.views_refused = true;
    return ViewOutcome::kNoView;
  }
  if (file_end <= next) return ViewOutcome::kEnd;
  static_assert(kViewLength % os::kViewAlignment == 0);
  const std::uint64_t start = next - next % kViewLength;
  const auto length =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(file_end - start, kViewLength));
  release_view(rt, s);
  const char* view = nullptr;
  const os::Result mapped =
      rt.os.map_view(c.handle, static_cast<std::int64_t>(start), length, &view);
  if (mapped.value == 0 || view == nullptr) {
    s.views_refused = true;
    return ViewOutcome::kNoView;
  }
  s.view = view;
  s.view_length = length;
  s.faults_seen = rt.os.view_faults();
  s.source_offset = start;
  s.read_index = static_cast<std::int32_t>(next - start);
  s.read_fill = static_cast<std::int32_t>(length);
  s.end_seen = start + length == file_end;
  c.pointer_known = false;
  return ViewOutcome::kMapped;
}

// Whether the rest of the file may come from views: where they are asked for, while one
// is in use, or once the first read ahead came full (the file may be large), unless views
// cannot be had.
bool may_view(const ChannelList& channels, const BlockSource& s) {
  if (!channels.lend_views || s.views_refused) return false;
  return s.view != nullptr || (s.source_offset == 0 && s.read_fill == s.read_ahead_length);
}

// Makes the next bytes of the file available in the source: views of a large file, what
// is read ahead of any other.
int refill_source(Runtime& rt, Channel& c) {
  if (may_view(rt.channels, c.block)) {
    switch (view_next(rt, c)) {
      case ViewOutcome::kMapped:
        return 0;
      case ViewOutcome::kEnd:
        empty_source(rt, c.block);
        return 0;
      case ViewOutcome::kNoView:
        break;
    }
  }
  return read_ahead(rt, c);
}

// The next count bytes, as one read call of count bytes would give them, lent from the
// source, or joined in c.block.joined when they span two. A source that ended short showed
// where the file ends: a block that reaches that end comes short without asking the system
// again, and the block after it asks anew (the file may have grown). A failure lends
// nothing.
std::string_view lend_block(Runtime& rt, Channel& c, std::int32_t count) {
  BlockSource& s = c.block;
  if (const int failure = check_view(rt, s)) {
    rt.err.raise_error(failure);
    return {};
  }
  const auto wanted = static_cast<std::size_t>(count);
  std::string_view lent;
  bool joined = false;
  while (lent.size() < wanted) {
    if (s.read_index == s.read_fill) {
      if (s.end_seen) {
        s.end_seen = false;
        break;
      }
      // The block spans two sources: what the first one lent is kept before it goes.
      if (!lent.empty() && !joined) {
        s.joined.reserve(wanted);
        s.joined.assign(lent);
        lent = s.joined;
        joined = true;
      }
      if (const int failure = refill_source(rt, c)) {
        rt.err.raise_error(failure);
        return {};
      }
      if (s.read_index == s.read_fill) {
        s.end_seen = false;
        break;
      }
    }
    const std::size_t take = std::min<std::size_t>(
        wanted - lent.size(), static_cast<std::size_t>(s.read_fill - s.read_index));
    const char* from = source_of(s) + s.read_index;
    s.read_index += static_cast<std::int32_t>(take);
    if (joined) {
      s.joined.append(from, take);
      lent = s.joined;
    } else {
      lent = std::string_view(from, take);
    }
  }
  note_block(c, static_cast<std::int64_t>(lent.size()), count);
  return lent;
}

}  // namespace

Channel* block_channel(Runtime& rt, std::int16_t number, std::int32_t count) {
  Channel* c = channel_of_kind(rt, number, is_binary);
  if (c != nullptr && count < 0) {
    rt.err.raise_error(rt_error::kBadArgument);
    return nullptr;
  }
  return c;
}

std::int32_t block_at_end(Runtime& rt, Channel& c) {
  // The last block a view lent is vouched for here, as the scan asks before each block.
  if (const int failure = check_view(rt, c.block)) {
    rt.err.raise_error(failure);
    return 0;
  }
  return c.block.at_end_flag ? -1 : 0;
}

std::string_view read_block_view_unguarded(Runtime& rt, std::int16_t number, std::int32_t count) {
  Channel* c = block_channel(rt, number, count);
  if (c == nullptr) return {};
  if (c->device_class == kDeviceClassDisk) return lend_block(rt, *c, count);
  // A device gives what it has now: reading ahead could wait for bytes nobody asked for.
  c->block.joined = read_direct(rt, *c, count);
  return c->block.joined;
}

void keep_read_ahead(Runtime& rt, Channel& c) {
  release_view(rt, c.block);
  if (c.block.read_ahead && !rt.channels.spare_read_ahead) {
    rt.channels.spare_read_ahead = std::move(c.block.read_ahead);
    rt.channels.spare_read_ahead_length = c.block.read_ahead_length;
  }
}

}  // namespace mapsweep
