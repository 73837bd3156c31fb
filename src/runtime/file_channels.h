// Numbered file channels: files opened for text input through a 128-byte buffer, for output
// (one write call per item and per line end, nothing buffered) or for block reading.
// Every failure raises one runtime error number and returns the fallback (empty, 0).
//
// Output replaces a file whole: the bytes go to a new sibling file, which takes the file's
// place only when the channel is closed after every write went through (replacement.h).
// A new-file channel instead creates a file that must not exist yet and writes it in place.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "runtime/byte_string.h"
#include "runtime/platform/os.h"
#include "runtime/replacement.h"

namespace mapsweep {

struct Runtime;

// Mode words: kind in the high byte, access and share in the low byte.
inline constexpr std::uint16_t kOutputMode = 0x8241;
inline constexpr std::uint16_t kInputMode = 0x8181;
// Input that reads a file to its real end: 0x1A is an ordinary byte for read_line,
// read_field and at_end (kind bit 0x08).
inline constexpr std::uint16_t kInputModeKeepEof = 0x8181 | 0x0800;
inline constexpr std::uint16_t kBinaryMode = 0x20C1;
// Block reading of a file that exists: read access only, others may read it meanwhile, and
// nothing is ever created.
inline constexpr std::uint16_t kBinaryReadMode = 0x2082;
// A file of the caller's own, created here (kind bit 0x04; the name must be free, else
// rt_error::kFileAlreadyExists) and written in place.
inline constexpr std::uint16_t kNewFileMode = 0x8641;
inline constexpr std::int32_t kInputBufferLength = 128;

struct Channel {
  std::int16_t number = 0;
  os::Handle handle = os::kInvalidHandle;
  std::uint16_t device_class = 0;  // 1 disk file, 2 anything else
  std::uint8_t kind = 0;           // high byte of the mode word
  std::uint8_t access = 0;         // low byte, write bit cleared after a read-only fallback
  std::uint64_t position = 0;      // input: file offset of the buffer's first byte
  std::int32_t buffer_size = 1;
  std::int32_t buffer_index = 0;
  std::int32_t buffer_fill = 0;
  bool at_end_flag = false;  // binary: the last block came short
  std::uint32_t transferred = 0;
  std::vector<unsigned char> buffer;
  Replacement replacement;  // output: the file it replaces and the sibling written instead
  int write_failure = 0;    // output: the first write that failed; the file is not replaced
};

// The open channels, most recently opened last; lookups start from the newest.
struct ChannelList {
  std::vector<std::unique_ptr<Channel>> open;
  std::minstd_rand random_names{std::random_device{}()};  // for sibling files' names
};

void open_channel(Runtime& rt, std::int16_t number, const ByteString& name, std::uint16_t mode,
                  std::int32_t buffer_length);
// Closes the channel; an output channel replaces its file now, unless a write failed (then
// the file stays as it was and the write's failure is raised again).
void close_channel(Runtime& rt, std::int16_t number);
void close_all_channels(Runtime& rt);
// Closes the channel without replacing anything: an output channel's file stays as it was.
// Raises nothing.
void abandon_channel(Runtime& rt, std::int16_t number);
void abandon_all_channels(Runtime& rt);
// Whether an open output channel will replace an existing file (rather than create one).
bool channel_replaces_file(const Runtime& rt, std::int16_t number);
// Whether a write to an open output channel failed, so that closing it will replace nothing.
bool channel_write_failed(const Runtime& rt, std::int16_t number);
// 0 while more can be read, -1 at the end. Not open: rt_error::kFileNotFound.
std::int32_t at_end(Runtime& rt, std::int16_t number);
ByteString read_block(Runtime& rt, std::int16_t number, std::int32_t count);
// Reads up to count bytes of a binary channel from the file offset `at` on, for readers of
// a file's own directory; as read_block otherwise. A negative offset: kBadArgument.
ByteString read_block_at(Runtime& rt, std::int16_t number, std::int64_t at, std::int32_t count);
// The length of the file open on a binary channel, or 0 after raising.
std::int64_t channel_length(Runtime& rt, std::int16_t number);
ByteString read_line(Runtime& rt, std::int16_t number);
ByteString read_field(Runtime& rt, std::int16_t number);
void write_item(Runtime& rt, std::int16_t number, const ByteString& text);
void end_line(Runtime& rt, std::int16_t number);
// Whether the channel is open (for callers that must skip work on a channel that is not).
bool channel_is_open(const Runtime& rt, std::int16_t number);

}  // namespace mapsweep
