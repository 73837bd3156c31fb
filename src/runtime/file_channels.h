// Numbered file channels: files opened for text input through a 128-byte buffer, for output
// (one write call per item and per line end, nothing buffered) or for block reading.
// Every failure raises one runtime error number and returns the fallback (empty, 0).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/byte_string.h"
#include "runtime/platform/os.h"

namespace mapsweep {

struct Runtime;

// Mode words: kind in the high byte, access and share in the low byte.
inline constexpr std::uint16_t kOutputMode = 0x8241;
inline constexpr std::uint16_t kInputMode = 0x8181;
// Input that reads a file to its real end: 0x1A is an ordinary byte for read_line,
// read_field and at_end (kind bit 0x08).
inline constexpr std::uint16_t kInputModeKeepEof = 0x8181 | 0x0800;
inline constexpr std::uint16_t kBinaryMode = 0x20C1;
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
};

// The open channels, most recently opened last; lookups start from the newest.
struct ChannelList {
  std::vector<std::unique_ptr<Channel>> open;
};

void open_channel(Runtime& rt, std::int16_t number, const ByteString& name, std::uint16_t mode,
                  std::int32_t buffer_length);
void close_channel(Runtime& rt, std::int16_t number);
void close_all_channels(Runtime& rt);
// 0 while more can be read, -1 at the end. Not open: rt_error::kFileNotFound.
std::int32_t at_end(Runtime& rt, std::int16_t number);
ByteString read_block(Runtime& rt, std::int16_t number, std::int32_t count);
ByteString read_line(Runtime& rt, std::int16_t number);
ByteString read_field(Runtime& rt, std::int16_t number);
void write_item(Runtime& rt, std::int16_t number, const ByteString& text);
void end_line(Runtime& rt, std::int16_t number);
// Whether the channel is open (for callers that must skip work on a channel that is not).
bool channel_is_open(const Runtime& rt, std::int16_t number);

}  // namespace mapsweep
