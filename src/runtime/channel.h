// The channel record and what the files of the channels share: file_channels.cpp keeps the
// numbered table and the public functions, which hand each call to the file of its kind:
// text_input.cpp (lines and fields), block_reading.cpp (read-ahead and views) and
// channel_output.cpp (the output buffer, the replaced file, closing). Callers outside the
// runtime use file_channels.h; only tests look inside a record.
//
// Channels are used by the scan's thread alone. The second thread a large folder's listing
// may start on POSIX systems (platform/posix_lookup.h) only looks up that folder's entries
// and never touches a channel, so the channel list and the records need no locks.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "runtime/byte_string.h"
#include "runtime/file_channels.h"
#include "runtime/platform/os.h"
#include "runtime/replacement.h"

namespace mapsweep {

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

inline constexpr std::uint16_t kDeviceClassDisk = 1;
inline constexpr std::uint16_t kDeviceClassOther = 2;

// What block reading keeps: where the next bytes of a disk file lie, and whether the last
// block came short.
struct BlockSource {
  bool at_end_flag = false;  // the last block came short
  // Disk file: the next bytes are [read_index, read_fill) of the view, while there is one,
  // else of read_ahead; its byte 0 is the file's byte source_offset.
  std::uint64_t source_offset = 0;
  std::unique_ptr<unsigned char[]> read_ahead;
  std::int32_t read_ahead_length = 0;  // the buffer's length
  std::int32_t read_index = 0;
  std::int32_t read_fill = 0;
  bool end_seen = false;       // the source ends where the file ended when it was filled
  const char* view = nullptr;  // the view mapped, if any
  std::uint32_t view_length = 0;
  std::uint64_t faults_seen = 0;  // the system's view faults when the view was last vouched for
  bool views_refused = false;     // a view could not be had: the file is read from then on
  ByteString joined;              // a block spanning two sources, or a device's, lent from here
};

struct Channel {
  std::int16_t number = 0;
  os::Handle handle = os::kInvalidHandle;
  std::uint16_t device_class = 0;  // 1 disk file, 2 anything else
  std::uint8_t kind = 0;           // high byte of the mode word
  std::uint8_t access = 0;         // low byte, write bit cleared after a read-only fallback
  std::uint64_t position = 0;      // input: file offset of the buffer's first byte
  // Input and block reading: the file pointer stands right behind the bytes read last, so
  // the next read needs no seek. Input counts it unknown after a failed read or seek, which
  // may have left it anywhere; block reading after a view, which does not move it.
  bool pointer_known = true;
  std::int32_t buffer_size = 1;  // input: bytes read at once; output: bytes collected at most
  std::int32_t buffer_index = 0;
  std::int32_t buffer_fill = 0;  // input: bytes in the buffer; output: bytes not yet written
  std::uint32_t transferred = 0;
  // Input or output bytes, buffer_size of them; never zeroed, as only bytes read or written
  // are ever looked at, and a list's 64 KiB would be cleared at every open.
  std::unique_ptr<unsigned char[]> buffer;
  BlockSource block;        // block reading only
  Replacement replacement;  // output: the file it replaces and the sibling written instead
  int write_failure = 0;    // output: the first write that failed; the file is not replaced
};

inline bool is_input(const Channel& c) {
  return (c.kind & kKindInput) != 0;
}
inline bool is_output(const Channel& c) {
  return (c.kind & kKindOutput) != 0;
}
inline bool is_binary(const Channel& c) {
  return (c.kind & kKindBinary) != 0;
}
// Output that replaces its file whole; a new-file channel writes its own file in place.
inline bool is_replacing(const Channel& c) {
  return is_output(c) && (c.kind & kKindNewFile) == 0;
}

// --- the table (file_channels.cpp) ---------------------------------------------------------

Channel* find_channel(const ChannelList& list, std::int16_t number);
// The channel when it is open and of the kind asked for; otherwise raises kBadChannel or
// kBadChannelMode.
Channel* channel_of_kind(Runtime& rt, std::int16_t number, bool (*is_kind)(const Channel&));
// Learns whether the channel's file is a disk file; the failure's runtime error number, or 0.
int classify_device(Runtime& rt, Channel& c);

// --- text input (text_input.cpp) -----------------------------------------------------------

// Reads up to buffer size bytes at the file pointer into the input buffer.
int fill_buffer(Runtime& rt, Channel& c);
// at_end of an input channel: -1 when no byte is left, or the next ends the text.
std::int32_t input_at_end(Runtime& rt, Channel& c);
ByteString read_line_unguarded(Runtime& rt, std::int16_t number);
ByteString read_field_unguarded(Runtime& rt, std::int16_t number);

// --- block reading (block_reading.cpp) -----------------------------------------------------

// The binary channel whose count is valid; otherwise raises and gives nullptr.
Channel* block_channel(Runtime& rt, std::int16_t number, std::int32_t count);
// at_end of a binary channel: -1 when the last block came short.
std::int32_t block_at_end(Runtime& rt, Channel& c);
std::string_view read_block_view_unguarded(Runtime& rt, std::int16_t number, std::int32_t count);
// Lets go of the channel's view and keeps its read-ahead buffer for the next channel.
void keep_read_ahead(Runtime& rt, Channel& c);

// --- output and closing (channel_output.cpp) -----------------------------------------------

void write_bytes(Runtime& rt, std::int16_t number, std::string_view bytes);
// Closes and releases a record already taken off the list: an output channel writes what it
// collected and replaces its file, unless something failed: then the file stays and the
// failure's number comes back.
int close_record(Runtime& rt, std::unique_ptr<Channel> c);
void abandon_record(Runtime& rt, std::unique_ptr<Channel> c);

}  // namespace mapsweep
