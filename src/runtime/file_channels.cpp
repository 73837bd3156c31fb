// Numbered file channels over the OS interface. The process has one thread, so the channel
// list and the records need no locks.
#include "runtime/file_channels.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {
namespace {

// The bits of the kind byte (the mode word's high byte).
enum : std::uint8_t {
  kKindInput = 0x01,
  kKindOutput = 0x02,
  kKindNewFile = 0x04,
  kKindKeepEof = 0x08,
  kKindBinary = 0x20,
  kKindNoFallback = 0x80,
};
// The bits of the access byte (its low byte).
enum : std::uint8_t { kAccessShare = 0x07, kAccessWrite = 0x40, kAccessRead = 0x80 };

constexpr std::size_t kNameLimit = 255;
constexpr std::uint16_t kDeviceClassDisk = 1;
constexpr std::uint16_t kDeviceClassOther = 2;

// The bytes the line and field readers stop at or pass over.
enum : unsigned char {
  kTab = 0x09,
  kLf = 0x0A,
  kCr = 0x0D,
  kEndOfText = 0x1A,
  kSpace = 0x20,
  kQuote = 0x22,
  kComma = 0x2C,
};

// What peek yields besides a byte value.
constexpr int kEndOfData = -1;
constexpr int kPeekFailed = -2;

bool is_input(const Channel& c) {
  return (c.kind & kKindInput) != 0;
}
bool is_output(const Channel& c) {
  return (c.kind & kKindOutput) != 0;
}
bool is_binary(const Channel& c) {
  return (c.kind & kKindBinary) != 0;
}
// Output that replaces its file whole; a new-file channel writes its own file in place.
bool is_replacing(const Channel& c) {
  return is_output(c) && (c.kind & kKindNewFile) == 0;
}

Channel* find_channel(const ChannelList& list, std::int16_t number) {
  for (auto it = list.open.rbegin(); it != list.open.rend(); ++it) {
    if ((*it)->number == number) return it->get();
  }
  return nullptr;
}

// The channel when it is open and of the kind asked for; otherwise raises kBadChannel or
// kBadChannelMode.
Channel* channel_of_kind(Runtime& rt, std::int16_t number, bool (*is_kind)(const Channel&)) {
  Channel* channel = find_channel(rt.channels, number);
  if (channel == nullptr) {
    rt.err.raise_error(rt_error::kBadChannel);
  } else if (!is_kind(*channel)) {
    rt.err.raise_error(rt_error::kBadChannelMode);
    channel = nullptr;
  }
  return channel;
}

// --- opening ---------------------------------------------------------------------------

std::uint32_t desired_access(std::uint8_t access) {
  std::uint32_t rights = 0;
  if (access & kAccessRead) rights |= os::kGenericRead;
  if (access & kAccessWrite) rights |= os::kGenericWrite;
  return rights;
}

// One CreateFileA; the runtime error number of a failure, or 0.
int create_handle(Runtime& rt, Channel& c, const std::string& name, std::uint32_t disposition) {
  const std::uint32_t share = static_cast<std::uint32_t>((c.access & kAccessShare) - 1);
  const SystemCall sc = system_call(
      [&] { return rt.os.create_file(name, desired_access(c.access), share, disposition); });
  const auto handle = static_cast<os::Handle>(sc.value);
  if (sc.failure == 0 && handle != os::kInvalidHandle) {
    c.handle = handle;
    return 0;
  }
  // A handle that came with a failure code is not used, but must not leak.
  if (handle != os::kInvalidHandle) rt.os.close_handle(handle);
  if (sc.failure != 0) return sc.failure;
  return sc.last_error == os::kErrorFileExists ? rt_error::kFileAlreadyExists
                                               : rt_error::kBadFileName;
}

// Opens the file, going on read-only when read-write is refused and the mode allows it. A
// channel that will not write has nothing to create: the file must exist.
int create_with_fallback(Runtime& rt, Channel& c, const std::string& name) {
  const auto disposition = [&] {
    return c.access & kAccessWrite ? os::kOpenAlways : os::kOpenExisting;
  };
  const int failure = create_handle(rt, c, name, disposition());
  if (failure == 0 || (c.kind & kKindNoFallback) || !(c.access & kAccessWrite)) return failure;
  c.access &= static_cast<std::uint8_t>(~kAccessWrite);
  return create_handle(rt, c, name, disposition());
}

int open_by_kind(Runtime& rt, Channel& c, const std::string& name) {
  if (is_replacing(c)) return begin_replacement(rt, name, c.replacement);
  if (is_output(c)) return create_handle(rt, c, name, os::kCreateNew);
  return create_with_fallback(rt, c, name);
}

// Lets go of whatever a failed open had already opened or created.
void undo_open(Runtime& rt, Channel& c, const std::string& name) {
  if (is_replacing(c)) discard_replacement(rt, c.replacement);
  if (c.handle == os::kInvalidHandle) return;
  rt.os.close_handle(c.handle);
  c.handle = os::kInvalidHandle;
  if (is_output(c) && !is_replacing(c)) {
    rt.os.delete_file(name);  // a new file this open created: nobody else's
  }
}

// Reads up to buffer size bytes at the file pointer into the input buffer.
int fill_buffer(Runtime& rt, Channel& c) {
  const SystemCall sc = system_call([&] {
    return rt.os.read_file(c.handle, c.buffer.data(), static_cast<std::uint32_t>(c.buffer_size));
  });
  c.buffer_index = 0;
  c.buffer_fill = sc.failure != 0 ? 0 : std::clamp<std::int64_t>(sc.value, 0, c.buffer_size);
  c.pointer_known = sc.failure == 0;
  return sc.failure;
}

int classify_device(Runtime& rt, Channel& c) {
  // A list being replaced has no file yet: its new file will be a disk file.
  if (c.handle == os::kInvalidHandle) {
    c.device_class = kDeviceClassDisk;
    return 0;
  }
  const SystemCall sc = system_call([&] { return rt.os.file_type(c.handle); });
  c.device_class = sc.value == os::kFileTypeDisk ? kDeviceClassDisk : kDeviceClassOther;
  // A handle whose type cannot be asked is not fit to be used.
  return sc.failure;
}

// A file just opened stands at its start. Input loads the first buffer of a disk file;
// output to a device writes every item at once, as whoever reads it expects to see it.
int start_by_kind(Runtime& rt, Channel& c) {
  if (is_output(c) && c.device_class != kDeviceClassDisk) c.buffer_size = 1;
  if (is_input(c) && c.device_class == kDeviceClassDisk) return fill_buffer(rt, c);
  return 0;
}

std::unique_ptr<Channel> new_channel(std::int16_t number, std::uint16_t mode,
                                     std::int32_t buffer_size) {
  auto channel = std::make_unique<Channel>();
  channel->number = number;
  channel->kind = static_cast<std::uint8_t>(mode >> 8);
  channel->access = static_cast<std::uint8_t>(mode & 0xFF);
  channel->buffer_size = buffer_size;
  // Block reading has a buffer of its own, read_ahead, had when first needed.
  if (!is_binary(*channel)) channel->buffer.resize(static_cast<std::size_t>(buffer_size));
  return channel;
}

void open_unguarded(Runtime& rt, std::int16_t number, const ByteString& name, std::uint16_t mode,
                    std::int32_t buffer_length) {
  const std::string system = system_name(name, kNameLimit);
  if (system.empty() || system.find_first_of("*?") != std::string::npos) {
    rt.err.raise_error(rt_error::kBadFileName);
    return;
  }
  const std::uint8_t kind = static_cast<std::uint8_t>(mode >> 8);
  const bool input = (kind & kKindInput) != 0;
  if (input && buffer_length < 1) {
    rt.err.raise_error(rt_error::kBadArgument);
    return;
  }
  const bool output = (kind & kKindOutput) != 0;
  const std::int32_t buffer_size =
      input ? buffer_length : (output ? std::max<std::int32_t>(buffer_length, 1) : 1);
  if (find_channel(rt.channels, number) != nullptr) {
    rt.err.raise_error(rt_error::kChannelAlreadyOpen);
    return;
  }
  // All storage is had before the file is opened, so running out cannot leak a handle. The
  // record joins the list only once the file is ready: a failed open has nothing to unlink.
  std::vector<std::unique_ptr<Channel>>& open = rt.channels.open;
  if (open.size() == open.capacity()) open.reserve(std::max<std::size_t>(4, 2 * open.size()));
  std::unique_ptr<Channel> channel = new_channel(number, mode, buffer_size);
  int failure = open_by_kind(rt, *channel, system);
  if (failure == 0) failure = classify_device(rt, *channel);
  if (failure == 0) failure = start_by_kind(rt, *channel);
  if (failure != 0) {
    undo_open(rt, *channel, system);
    rt.err.raise_error(failure);
    return;
  }
  open.push_back(std::move(channel));
}

// --- the input buffer --------------------------------------------------------------------

// Reads the buffer again from the offset of the next unread byte, seeking there first only
// when a failure may have moved the file pointer. A failure leaves the buffer empty, so the
// next peek reads again from the same offset.
int refill(Runtime& rt, Channel& c) {
  const std::uint64_t offset = c.position + static_cast<std::uint64_t>(c.buffer_index);
  if (!c.pointer_known) {
    const SystemCall sc = system_call(
        [&] { return rt.os.set_file_pointer(c.handle, static_cast<std::int64_t>(offset)); });
    if (sc.failure != 0 || sc.value < 0) {
      c.buffer_fill = 0;
      // A seek that reports no position but no failure code either is still a failure.
      return sc.failure != 0 ? sc.failure : rt_error::kInternal;
    }
  }
  c.position = offset;
  return fill_buffer(rt, c);
}

// A device is read a byte at a time; the byte stays in the buffer until it is consumed, so
// looking at it twice does not lose it. End of file (kPastEnd) is the end of data there.
int refill_device(Runtime& rt, Channel& c) {
  const SystemCall sc = system_call([&] { return rt.os.read_file(c.handle, c.buffer.data(), 1); });
  c.buffer_index = 0;
  c.buffer_fill = sc.failure == 0 && sc.value > 0 ? 1 : 0;
  return sc.failure == rt_error::kPastEnd ? 0 : sc.failure;
}

// The next unread byte without consuming it, kEndOfData, or kPeekFailed after raising.
int peek(Runtime& rt, Channel& c) {
  if (c.buffer_index < c.buffer_fill) return c.buffer[static_cast<std::size_t>(c.buffer_index)];
  const int failure = c.device_class == kDeviceClassDisk ? refill(rt, c) : refill_device(rt, c);
  if (failure != 0) {
    rt.err.raise_error(failure);
    return kPeekFailed;
  }
  if (c.buffer_fill == 0) return kEndOfData;
  return c.buffer[static_cast<std::size_t>(c.buffer_index)];
}

void consume(Channel& c) {
  ++c.buffer_index;
}

bool ends_text(const Channel& c, int byte) {
  return byte == kEndOfText && !(c.kind & kKindKeepEof);
}

// --- field reading -----------------------------------------------------------------------

// Consumes what closes a field: quotes, LF, spaces and TABs, then one comma or CR (LF).
// False when a refill failed.
bool skip_terminator(Runtime& rt, Channel& c) {
  for (;;) {
    const int byte = peek(rt, c);
    if (byte == kPeekFailed) return false;
    if (byte == kQuote || byte == kLf || byte == kSpace || byte == kTab) {
      consume(c);
    } else if (byte == kCr) {
      consume(c);
      const int next = peek(rt, c);
      if (next == kPeekFailed) return false;
      if (next == kLf) consume(c);
      return true;
    } else if (byte == kComma) {
      consume(c);
      return true;
    } else {
      return true;
    }
  }
}

// Every byte up to the closing quote, which the terminator skip then consumes.
bool read_quoted(Runtime& rt, Channel& c, ByteString& field) {
  consume(c);
  for (;;) {
    const int byte = peek(rt, c);
    if (byte == kPeekFailed) return false;
    if (byte == kEndOfData) return true;
    if (byte == kQuote) return skip_terminator(rt, c);
    consume(c);
    field.push_back(static_cast<char>(byte));
  }
}

bool read_unquoted(Runtime& rt, Channel& c, ByteString& field) {
  for (;;) {
    const int byte = peek(rt, c);
    if (byte == kPeekFailed) return false;
    if (byte == kEndOfData || ends_text(c, byte)) return true;
    if (byte == kComma || byte == kCr) return skip_terminator(rt, c);
    consume(c);
    if (byte != kLf && byte != kTab) field.push_back(static_cast<char>(byte));
  }
}

ByteString read_field_unguarded(Runtime& rt, std::int16_t number) {
  Channel* c = channel_of_kind(rt, number, is_input);
  if (c == nullptr) return {};
  int byte = peek(rt, *c);
  while (byte == kSpace) {
    consume(*c);
    byte = peek(rt, *c);
  }
  if (byte == kPeekFailed) return {};
  if (byte == kEndOfData || ends_text(*c, byte)) {
    rt.err.raise_error(rt_error::kPastEnd);
    return {};
  }
  ByteString field;
  const bool read = byte == kQuote ? read_quoted(rt, *c, field) : read_unquoted(rt, *c, field);
  return read ? field : ByteString{};
}

// --- line reading ------------------------------------------------------------------------

// Takes the bytes from the next unread one up to the buffer's end or to the first CR (or
// end-of-text byte, where it ends text) into the line, in one piece: a line that lies in
// the buffer is stored with no room to spare, as a list of a million lines keeps them all.
void take_plain_run(Channel& c, ByteString& line) {
  const unsigned char* begin = c.buffer.data() + c.buffer_index;
  const unsigned char* end = c.buffer.data() + c.buffer_fill;
  const unsigned char* stop = begin;
  while (stop != end && *stop != kCr && !ends_text(c, *stop)) ++stop;
  if (stop == begin) return;
  const char* from = reinterpret_cast<const char*>(begin);
  const auto count = static_cast<std::size_t>(stop - begin);
  if (line.empty()) {
    line = ByteString(from, count);
  } else {
    line.append(from, count);
  }
  c.buffer_index += static_cast<std::int32_t>(count);
}

ByteString read_line_unguarded(Runtime& rt, std::int16_t number) {
  Channel* c = channel_of_kind(rt, number, is_input);
  if (c == nullptr) return {};
  ByteString line;
  for (;;) {
    const int byte = peek(rt, *c);
    if (byte == kPeekFailed) return {};
    if (byte == kEndOfData || ends_text(*c, byte)) break;
    if (byte == kCr) {
      consume(*c);
      const int next = peek(rt, *c);
      if (next == kPeekFailed) return {};
      if (next == kLf) consume(*c);
      return line;
    }
    take_plain_run(*c, line);  // the byte just seen, and those behind it in the buffer
  }
  if (line.empty()) rt.err.raise_error(rt_error::kPastEnd);
  return line;
}

// --- block reading and writing -----------------------------------------------------------

// The binary channel whose count is valid; otherwise raises and gives nullptr.
Channel* block_channel(Runtime& rt, std::int16_t number, std::int32_t count) {
  Channel* c = channel_of_kind(rt, number, is_binary);
  if (c != nullptr && count < 0) {
    rt.err.raise_error(rt_error::kBadArgument);
    return nullptr;
  }
  return c;
}

void note_block(Channel& c, std::int64_t came, std::int32_t count) {
  c.transferred = static_cast<std::uint32_t>(came);
  c.at_end_flag = came < count;
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

std::uint64_t next_offset(const Channel& c) {
  return c.source_offset + static_cast<std::uint64_t>(c.read_index);
}

// Where the next bytes lie: the view, while there is one, else the bytes read ahead.
const char* source_of(const Channel& c) {
  return c.view != nullptr ? c.view : reinterpret_cast<const char*>(c.read_ahead.get());
}

// Lets go of the view, if any. Nothing depends on the outcome: the bytes it lent are no
// longer looked at.
void release_view(Runtime& rt, Channel& c) {
  if (c.view == nullptr) return;
  rt.os.unmap_view(c.view, c.view_length);
  c.view = nullptr;
  c.view_length = 0;
}

// The source is now nothing but where the next byte lies.
void empty_source(Runtime& rt, Channel& c) {
  const std::uint64_t next = next_offset(c);
  release_view(rt, c);
  c.source_offset = next;
  c.read_index = 0;
  c.read_fill = 0;
  c.end_seen = false;
}

// Whether the bytes a view lent since the last look were the file's: reading them may have
// met a fault (the file cut short meanwhile, a failing disk), which fails the read as a
// read call meeting the same would fail.
int check_view(Runtime& rt, Channel& c) {
  if (c.view == nullptr) return 0;
  const std::uint64_t faults = rt.os.view_faults();
  if (faults == c.faults_seen) return 0;
  c.faults_seen = faults;
  return translate_system_error(os::kErrorCrc);
}

// Reads ahead at the next offset (seeking there first after views, which do not move the
// file pointer). A failure leaves nothing read ahead.
int read_ahead(Runtime& rt, Channel& c) {
  if (!c.read_ahead) {
    c.read_ahead = rt.channels.spare_read_ahead
                       ? std::move(rt.channels.spare_read_ahead)
                       : std::make_unique_for_overwrite<unsigned char[]>(kReadAheadLength);
  }
  empty_source(rt, c);
  if (!c.pointer_known) {
    const SystemCall seek = system_call([&] {
      return rt.os.set_file_pointer(c.handle, static_cast<std::int64_t>(c.source_offset));
    });
    if (seek.failure != 0 || seek.value < 0) {
      return seek.failure != 0 ? seek.failure : rt_error::kInternal;
    }
    c.pointer_known = true;
  }
  const SystemCall sc =
      system_call([&] { return rt.os.read_file(c.handle, c.read_ahead.get(), kReadAheadLength); });
  if (sc.failure != 0) return sc.failure;
  c.read_fill = static_cast<std::int32_t>(std::clamp<std::int64_t>(sc.value, 0, kReadAheadLength));
  c.end_seen = c.read_fill < kReadAheadLength;
  return 0;
}

enum class ViewOutcome { kMapped, kEnd, kNoView };

// Views the file from the next byte on: the kViewLength bytes from the multiple of
// kViewLength at or before it, up to the end the system gives now (the file may have grown
// or shrunk since it was last asked). Views in step with the length let the system map a
// view with one large page where it keeps the file in large pieces, which spares the
// processor thousands of address translations per view.
ViewOutcome view_next(Runtime& rt, Channel& c) {
  const std::uint64_t next = next_offset(c);
  const SystemCall size = system_call([&] { return rt.os.file_size(c.handle); });
  if (size.failure != 0 || size.value < 0) return ViewOutcome::kNoView;  // reading says why
  const auto file_end = static_cast<std::uint64_t>(size.value);
  // Asked first right after the first read ahead: a smaller file is read to its end.
  if (c.view == nullptr && size.value < kViewsFrom) {
    c.views_refused = true;
    return ViewOutcome::kNoView;
  }
  if (file_end <= next) return ViewOutcome::kEnd;
  static_assert(kViewLength % os::kViewAlignment == 0);
  const std::uint64_t start = next - next % kViewLength;
  const auto length =
      static_cast<std::uint32_t>(std::min<std::uint64_t>(file_end - start, kViewLength));
  release_view(rt, c);
  const char* view = nullptr;
  const os::Result mapped =
      rt.os.map_view(c.handle, static_cast<std::int64_t>(start), length, &view);
  if (mapped.value == 0 || view == nullptr) {
    c.views_refused = true;
    return ViewOutcome::kNoView;
  }
  c.view = view;
  c.view_length = length;
  c.faults_seen = rt.os.view_faults();
  c.source_offset = start;
  c.read_index = static_cast<std::int32_t>(next - start);
  c.read_fill = static_cast<std::int32_t>(length);
  c.end_seen = start + length == file_end;
  c.pointer_known = false;
  return ViewOutcome::kMapped;
}

// Whether the rest of the file may come from views: while one is in use, or once the
// first read ahead came full (the file may be large), unless views cannot be had.
bool may_view(const Channel& c) {
  if (c.views_refused) return false;
  return c.view != nullptr || (c.source_offset == 0 && c.read_fill == kReadAheadLength);
}

// Makes the next bytes of the file available in the source: views of a large file, what
// is read ahead of any other.
int refill_source(Runtime& rt, Channel& c) {
  if (may_view(c)) {
    switch (view_next(rt, c)) {
      case ViewOutcome::kMapped:
        return 0;
      case ViewOutcome::kEnd:
        empty_source(rt, c);
        return 0;
      case ViewOutcome::kNoView:
        break;
    }
  }
  return read_ahead(rt, c);
}

// The next count bytes, as one read call of count bytes would give them, lent from the
// source, or joined in c.joined when they span two. A source that ended short showed where
// the file ends: a block that reaches that end comes short without asking the system
// again, and the block after it asks anew (the file may have grown). A failure lends
// nothing.
std::string_view lend_block(Runtime& rt, Channel& c, std::int32_t count) {
  if (const int failure = check_view(rt, c)) {
    rt.err.raise_error(failure);
    return {};
  }
  const auto wanted = static_cast<std::size_t>(count);
  std::string_view lent;
  bool joined = false;
  while (lent.size() < wanted) {
    if (c.read_index == c.read_fill) {
      if (c.end_seen) {
        c.end_seen = false;
        break;
      }
      // The block spans two sources: what the first one lent is kept before it goes.
      if (!lent.empty() && !joined) {
        c.joined.reserve(wanted);
        c.joined.assign(lent);
        lent = c.joined;
        joined = true;
      }
      if (const int failure = refill_source(rt, c)) {
        rt.err.raise_error(failure);
        return {};
      }
      if (c.read_index == c.read_fill) {
        c.end_seen = false;
        break;
      }
    }
    const std::size_t take = std::min<std::size_t>(
        wanted - lent.size(), static_cast<std::size_t>(c.read_fill - c.read_index));
    const char* from = source_of(c) + c.read_index;
    c.read_index += static_cast<std::int32_t>(take);
    if (joined) {
      c.joined.append(from, take);
      lent = c.joined;
    } else {
      lent = std::string_view(from, take);
    }
  }
  note_block(c, static_cast<std::int64_t>(lent.size()), count);
  return lent;
}

std::string_view read_block_view_unguarded(Runtime& rt, std::int16_t number, std::int32_t count) {
  Channel* c = block_channel(rt, number, count);
  if (c == nullptr) return {};
  if (c->device_class == kDeviceClassDisk) return lend_block(rt, *c, count);
  // A device gives what it has now: reading ahead could wait for bytes nobody asked for.
  c->joined = read_direct(rt, *c, count);
  return c->joined;
}

// --- output ------------------------------------------------------------------------------

// Creates the file a replacing channel writes, at its first write: a list whose bytes never
// leave the channel's buffer may need none (see close_record).
int start_new_file(Runtime& rt, Channel& c) {
  int failure = make_sibling(rt, c.replacement, c.handle);
  if (failure == 0) failure = classify_device(rt, c);
  if (failure != 0 && c.write_failure == 0) c.write_failure = failure;
  return failure;
}

// One write call. A failure, or a write that came short, is raised by the caller; the first
// one is kept, since a file missing some bytes must not take the old one's place.
int write_now(Runtime& rt, Channel& c, std::string_view bytes) {
  if (is_replacing(c) && c.handle == os::kInvalidHandle) {
    if (const int failure = start_new_file(rt, c)) return failure;
  }
  const auto size = static_cast<std::uint32_t>(bytes.size());
  const SystemCall sc = system_call([&] { return rt.os.write_file(c.handle, bytes.data(), size); });
  c.transferred = static_cast<std::uint32_t>(std::max<std::int64_t>(sc.value, 0));
  c.replacement.written += c.transferred;
  int failure = sc.failure;
  if (failure == 0 && sc.value < static_cast<std::int64_t>(bytes.size())) {
    failure =
        c.device_class == kDeviceClassDisk ? rt_error::kDiskFull : rt_error::kDeviceShortWrite;
  }
  if (failure != 0 && c.write_failure == 0) c.write_failure = failure;
  return failure;
}

// Writes what the channel collected. Bytes that could not be written are dropped: the file
// will not replace anything now, so they are of no use.
int flush_output(Runtime& rt, Channel& c) {
  if (c.buffer_fill == 0) return 0;
  const auto pending = static_cast<std::size_t>(c.buffer_fill);
  c.buffer_fill = 0;
  return write_now(rt, c,
                   std::string_view(reinterpret_cast<const char*>(c.buffer.data()), pending));
}

void write_bytes(Runtime& rt, std::int16_t number, std::string_view bytes) {
  Channel* c = channel_of_kind(rt, number, is_output);
  if (c == nullptr || bytes.empty()) return;
  const auto room = static_cast<std::size_t>(c->buffer_size);
  int failure = 0;
  if (static_cast<std::size_t>(c->buffer_fill) + bytes.size() > room)
    failure = flush_output(rt, *c);
  if (failure == 0 && bytes.size() >= room) {
    failure = write_now(rt, *c, bytes);
  } else if (failure == 0) {
    std::memcpy(c->buffer.data() + c->buffer_fill, bytes.data(), bytes.size());
    c->buffer_fill += static_cast<std::int32_t>(bytes.size());
  }
  if (failure != 0) rt.err.raise_error(failure);
}

// --- closing -----------------------------------------------------------------------------

// Lets go of the channel's view and keeps its read-ahead buffer for the next channel.
void keep_read_ahead(Runtime& rt, Channel& c) {
  release_view(rt, c);
  if (c.read_ahead && !rt.channels.spare_read_ahead) {
    rt.channels.spare_read_ahead = std::move(c.read_ahead);
  }
}

// Closes and releases a record already taken off the list: an output channel writes what it
// collected and replaces its file, unless something failed: then the file stays and the
// failure's number comes back.
int close_record(Runtime& rt, std::unique_ptr<Channel> c) {
  if (is_replacing(*c) && c->handle == os::kInvalidHandle && c->write_failure == 0) {
    // Every byte is still here: a list the same as the old one needs no new file at all,
    // which spares creating, comparing and removing one.
    const std::string_view collected(reinterpret_cast<const char*>(c->buffer.data()),
                                     static_cast<std::size_t>(c->buffer_fill));
    if (holds_exactly(rt, c->replacement, collected)) {
      discard_replacement(rt, c->replacement);
      return 0;
    }
    if (const int failure = start_new_file(rt, *c)) {
      discard_replacement(rt, c->replacement);
      return failure;
    }
  }
  const int flushed = is_output(*c) ? flush_output(rt, *c) : 0;
  const int closed = system_call([&] { return rt.os.close_handle(c->handle); }).failure;
  keep_read_ahead(rt, *c);
  if (!is_replacing(*c)) return flushed != 0 ? flushed : closed;
  const int failure = c->write_failure != 0 ? c->write_failure : closed;
  if (failure == 0) {
    const int committed = commit_replacement(rt, c->replacement);
    rt.channels.last_close_changed_file = c->replacement.changed;
    return committed;
  }
  discard_replacement(rt, c->replacement);
  return failure;
}

void abandon_record(Runtime& rt, std::unique_ptr<Channel> c) {
  if (c->handle != os::kInvalidHandle) system_call([&] { return rt.os.close_handle(c->handle); });
  keep_read_ahead(rt, *c);
  if (is_replacing(*c)) discard_replacement(rt, c->replacement);
}

std::unique_ptr<Channel> unlink(ChannelList& list, std::int16_t number) {
  for (auto it = list.open.rbegin(); it != list.open.rend(); ++it) {
    if ((*it)->number == number) {
      std::unique_ptr<Channel> record = std::move(*it);
      list.open.erase(std::next(it).base());
      return record;
    }
  }
  return nullptr;
}

}  // namespace

void open_channel(Runtime& rt, std::int16_t number, const ByteString& name, std::uint16_t mode,
                  std::int32_t buffer_length) {
  with_storage(
      rt.err, [&] { open_unguarded(rt, number, name, mode, buffer_length); }, [] {});
}

void close_channel(Runtime& rt, std::int16_t number) {
  rt.channels.last_close_changed_file = false;
  std::unique_ptr<Channel> record = unlink(rt.channels, number);
  if (record == nullptr) return;
  if (const int failure = close_record(rt, std::move(record))) rt.err.raise_error(failure);
}

void close_all_channels(Runtime& rt) {
  int first_failure = 0;
  while (!rt.channels.open.empty()) {
    std::unique_ptr<Channel> newest = std::move(rt.channels.open.back());
    rt.channels.open.pop_back();
    const int failure = close_record(rt, std::move(newest));
    if (first_failure == 0) first_failure = failure;
  }
  if (first_failure != 0) rt.err.raise_error(first_failure);
}

bool last_close_changed_file(const Runtime& rt) {
  return rt.channels.last_close_changed_file;
}

void abandon_channel(Runtime& rt, std::int16_t number) {
  std::unique_ptr<Channel> record = unlink(rt.channels, number);
  if (record != nullptr) abandon_record(rt, std::move(record));
}

void abandon_all_channels(Runtime& rt) {
  while (!rt.channels.open.empty()) {
    std::unique_ptr<Channel> newest = std::move(rt.channels.open.back());
    rt.channels.open.pop_back();
    abandon_record(rt, std::move(newest));
  }
}

bool channel_replaces_file(const Runtime& rt, std::int16_t number) {
  const Channel* c = find_channel(rt.channels, number);
  return c != nullptr && is_replacing(*c) && c->replacement.replaces_existing;
}

bool channel_write_failed(const Runtime& rt, std::int16_t number) {
  const Channel* c = find_channel(rt.channels, number);
  return c != nullptr && c->write_failure != 0;
}

std::int32_t at_end(Runtime& rt, std::int16_t number) {
  Channel* c = find_channel(rt.channels, number);
  if (c == nullptr) {
    rt.err.raise_error(rt_error::kFileNotFound);
    return 0;
  }
  if (is_output(*c)) return 0;
  if (is_input(*c)) {
    const int byte = peek(rt, *c);
    return byte == kEndOfData || ends_text(*c, byte) ? -1 : 0;
  }
  if (is_binary(*c)) {
    // The last block a view lent is vouched for here, as the scan asks before each block.
    if (const int failure = check_view(rt, *c)) {
      rt.err.raise_error(failure);
      return 0;
    }
    return c->at_end_flag ? -1 : 0;
  }
  return 0;
}

ByteString read_block(Runtime& rt, std::int16_t number, std::int32_t count) {
  ByteString block;
  read_block_into(rt, number, count, block);
  return block;
}

void read_block_into(Runtime& rt, std::int16_t number, std::int32_t count, ByteString& block) {
  with_storage(
      rt.err, [&] { block.assign(read_block_view_unguarded(rt, number, count)); },
      [&] { block.clear(); });
}

std::string_view read_block_view(Runtime& rt, std::int16_t number, std::int32_t count) {
  return with_storage(
      rt.err, [&] { return read_block_view_unguarded(rt, number, count); },
      [] { return std::string_view(); });
}

ByteString read_block_at(Runtime& rt, std::int16_t number, std::int64_t at, std::int32_t count) {
  Channel* c = block_channel(rt, number, count);
  if (c == nullptr) return {};
  if (at < 0) {
    rt.err.raise_error(rt_error::kBadArgument);
    return {};
  }
  return with_storage(
      rt.err,
      [&] {
        ByteString block(static_cast<std::size_t>(count), '\0');
        const SystemCall sc = system_call([&] {
          return rt.os.read_file_at(c->handle, at, block.data(), static_cast<std::uint32_t>(count));
        });
        if (sc.failure != 0) {
          rt.err.raise_error(sc.failure);
          return ByteString{};
        }
        block.resize(static_cast<std::size_t>(std::clamp<std::int64_t>(sc.value, 0, count)));
        return block;
      },
      [] { return ByteString{}; });
}

std::int64_t channel_length(Runtime& rt, std::int16_t number) {
  Channel* c = channel_of_kind(rt, number, is_binary);
  if (c == nullptr) return 0;
  const SystemCall sc = system_call([&] { return rt.os.file_size(c->handle); });
  if (sc.failure != 0 || sc.value < 0) {
    rt.err.raise_error(sc.failure != 0 ? sc.failure : rt_error::kInternal);
    return 0;
  }
  return sc.value;
}

ByteString read_line(Runtime& rt, std::int16_t number) {
  return with_storage(
      rt.err, [&] { return read_line_unguarded(rt, number); }, [] { return ByteString{}; });
}

ByteString read_field(Runtime& rt, std::int16_t number) {
  return with_storage(
      rt.err, [&] { return read_field_unguarded(rt, number); }, [] { return ByteString{}; });
}

void write_item(Runtime& rt, std::int16_t number, const ByteString& text) {
  write_bytes(rt, number, text);
}

void end_line(Runtime& rt, std::int16_t number) {
  write_bytes(rt, number, "\r\n");
}

bool channel_is_open(const Runtime& rt, std::int16_t number) {
  return find_channel(rt.channels, number) != nullptr;
}

}  // namespace mapsweep
