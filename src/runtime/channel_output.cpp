// Output: items collected in a buffer and written when it is full and at the close, to the
// new file that replaces the channel's file only when every write went through; and what
// closing or abandoning any channel does.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "runtime/channel.h"
#include "runtime/replacement.h"
#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {
namespace {

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
  return write_now(rt, c, std::string_view(reinterpret_cast<const char*>(c.buffer.get()), pending));
}

}  // namespace

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
    std::memcpy(c->buffer.get() + c->buffer_fill, bytes.data(), bytes.size());
    c->buffer_fill += static_cast<std::int32_t>(bytes.size());
  }
  if (failure != 0) rt.err.raise_error(failure);
}

// --- closing -----------------------------------------------------------------------------

int close_record(Runtime& rt, std::unique_ptr<Channel> c) {
  if (is_replacing(*c) && c->handle == os::kInvalidHandle && c->write_failure == 0) {
    // Every byte is still here: a list the same as the old one needs no new file at all,
    // which spares creating, comparing and removing one.
    const std::string_view collected(reinterpret_cast<const char*>(c->buffer.get()),
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

}  // namespace mapsweep
