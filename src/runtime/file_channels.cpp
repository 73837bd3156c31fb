// Numbered file channels over the OS interface: the table of open channels, opening and
// closing by number, and the public functions, each handing its channel to the file of its
// kind (see channel.h).
#include "runtime/file_channels.h"

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/channel.h"
#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {

// Out of line, where a Channel is a complete type: the list owns its records.
ChannelList::ChannelList() = default;
ChannelList::~ChannelList() = default;

Channel* find_channel(const ChannelList& list, std::int16_t number) {
  for (auto it = list.open.rbegin(); it != list.open.rend(); ++it) {
    if ((*it)->number == number) return it->get();
  }
  return nullptr;
}

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

namespace {

constexpr std::size_t kNameLimit = 255;

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
  if (!is_binary(*channel)) {
    channel->buffer =
        std::make_unique_for_overwrite<unsigned char[]>(static_cast<std::size_t>(buffer_size));
  }
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
  if (is_input(*c)) return input_at_end(rt, *c);
  if (is_binary(*c)) return block_at_end(rt, *c);
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
