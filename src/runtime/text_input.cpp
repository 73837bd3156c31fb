// Text input: a buffer of the length the open asked for, read again when used up (a byte at
// a time from a device), and the lines and fields taken from it.
#include <algorithm>
#include <cstdint>

#include "runtime/channel.h"
#include "runtime/runtime.h"
#include "runtime/system_call.h"

namespace mapsweep {
namespace {

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
  const SystemCall sc = system_call([&] { return rt.os.read_file(c.handle, c.buffer.get(), 1); });
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

}  // namespace

int fill_buffer(Runtime& rt, Channel& c) {
  const SystemCall sc = system_call([&] {
    return rt.os.read_file(c.handle, c.buffer.get(), static_cast<std::uint32_t>(c.buffer_size));
  });
  c.buffer_index = 0;
  c.buffer_fill = sc.failure != 0 ? 0 : std::clamp<std::int64_t>(sc.value, 0, c.buffer_size);
  c.pointer_known = sc.failure == 0;
  return sc.failure;
}

std::int32_t input_at_end(Runtime& rt, Channel& c) {
  const int byte = peek(rt, c);
  return byte == kEndOfData || ends_text(c, byte) ? -1 : 0;
}

// --- field reading -----------------------------------------------------------------------

namespace {

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

}  // namespace

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

namespace {

// Takes the bytes from the next unread one up to the buffer's end or to the first CR (or
// end-of-text byte, where it ends text) into the line, in one piece: a line that lies in
// the buffer is stored with no room to spare, as a list of a million lines keeps them all.
void take_plain_run(Channel& c, ByteString& line) {
  const unsigned char* begin = c.buffer.get() + c.buffer_index;
  const unsigned char* end = c.buffer.get() + c.buffer_fill;
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

}  // namespace

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

}  // namespace mapsweep
