// Numbered file channels: files opened for text input, for output or for block reading.
// Every failure raises one runtime error number and returns the fallback (empty, 0).
//
// Text input reads through a buffer of the length the open asks for. Output collects items
// and line ends in a buffer of that length and writes it whole when the next item would not
// fit and at the close; a device is written item by item. Block reading of a disk file reads
// ahead kReadAheadLength bytes at a time into one reused buffer and hands out the blocks
// asked for from there (or, where the benchmark asks for it, lends the rest of a large file
// from views of it). Either way the blocks are the same as those of one read call each.
//
// Output replaces a file whole: the bytes go to a new sibling file, which takes the file's
// place only when the channel is closed after every write went through (replacement.h).
// A new-file channel instead creates a file that must not exist yet and writes it in place.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <string_view>
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
// For lists: a buffer this long takes thousands of lines, so that writing or reading a list
// costs a system call per buffer, not per line.
inline constexpr std::int32_t kListBufferLength = 64 * 1024;
// What block reading of a disk file reads at once: large enough that the calls cost little
// beside copying the bytes, small enough to stay in the processor's cache while scanned.
inline constexpr std::int32_t kReadAheadLength = 256 * 1024;
// With views asked for (ChannelList::lend_views), a file of kViewsFrom bytes or more is
// large: what its first read ahead leaves is lent from views of the file, with no copy at
// all, where the system has them. For a smaller one, setting up views would cost more than
// copying. A view spans kViewLength bytes: the size of a large page, few enough that its
// pages weigh little in the process's memory.
inline constexpr std::int64_t kViewsFrom = 1024 * 1024;
inline constexpr std::uint32_t kViewLength = 2 * 1024 * 1024;

// One open channel's record (channel.h, internal to the runtime).
struct Channel;

// The open channels, most recently opened last; lookups start from the newest.
struct ChannelList {
  ChannelList();
  ~ChannelList();
  ChannelList(const ChannelList&) = delete;
  ChannelList& operator=(const ChannelList&) = delete;

  std::vector<std::unique_ptr<Channel>> open;
  std::minstd_rand random_names{std::random_device{}()};  // for sibling files' names
  // The read-ahead buffer of the binary channel closed last, for the next one: a scan opens
  // thousands of small files, and each would otherwise allocate one.
  std::unique_ptr<unsigned char[]> spare_read_ahead;
  std::int32_t spare_read_ahead_length = 0;
  // What block reading reads at once: kReadAheadLength; tests try other lengths.
  std::int32_t read_ahead_length = kReadAheadLength;
  // Whether large files are lent from views rather than read. Off: on many machines
  // (virtual ones above all) mapping and unmapping cost far more than the copy a read makes
  // into a buffer the cache holds, and reading costs about the same everywhere. The
  // benchmark turns views on (MAPSWEEP_VIEWS=1 in the environment) to compare both ways.
  bool lend_views = false;
  // Whether the output channel closed last put other bytes in its file's place (or made
  // the file): a list that came out the same is left as it was, and the report says so.
  bool last_close_changed_file = false;
};

// buffer_length: what text input reads at once (at least 1), or what output collects before
// it writes (1 or less: every item is written at once); block reading does not use it.
void open_channel(Runtime& rt, std::int16_t number, const ByteString& name, std::uint16_t mode,
                  std::int32_t buffer_length);
// Closes the channel; an output channel writes what it collected and replaces its file now,
// unless a write failed (then the file stays as it was and the write's failure is raised
// again). Until then the file is the old one: the new bytes reach its place only here, once
// the buffer is written, so whoever opens it after the close reads every one of them. (A
// new-file channel's file is its caller's own, created exclusively: nobody else knows it.)
void close_channel(Runtime& rt, std::int16_t number);
void close_all_channels(Runtime& rt);
// Whether the last channel closed with close_channel changed its file's bytes: false when
// the file held exactly what was written (it was left as it was) or nothing was written.
bool last_close_changed_file(const Runtime& rt);
// Closes the channel without replacing anything: an output channel's file stays as it was,
// and what it collected is not written. Raises nothing.
void abandon_channel(Runtime& rt, std::int16_t number);
void abandon_all_channels(Runtime& rt);
// Whether an open output channel will replace an existing file (rather than create one).
bool channel_replaces_file(const Runtime& rt, std::int16_t number);
// Whether a write to an open output channel failed, so that closing it will replace nothing.
// Bytes still collected in its buffer have not been tried yet.
bool channel_write_failed(const Runtime& rt, std::int16_t number);
// 0 while more can be read, -1 at the end. Not open: rt_error::kFileNotFound.
std::int32_t at_end(Runtime& rt, std::int16_t number);
ByteString read_block(Runtime& rt, std::int16_t number, std::int32_t count);
// As block = read_block(...), into storage the block already has: a scan reading chunk after
// chunk into one string neither allocates nor leaves the processor's cache for each.
void read_block_into(Runtime& rt, std::int16_t number, std::int32_t count, ByteString& block);
// As read_block, but lends the bytes instead of copying them: the view holds until the
// channel is next read, closed or abandoned. A scan that looks at each block once and
// keeps nothing of it needs no copy at all.
std::string_view read_block_view(Runtime& rt, std::int16_t number, std::int32_t count);
// Reads up to count bytes of a binary channel from the file offset `at` on, in one call,
// for readers of a file's own directory and headers. Always read from the file, and apart
// from block reading: what read_block reads next, and whether it is at its end, stays as
// it was. A negative offset: kBadArgument.
ByteString read_block_at(Runtime& rt, std::int16_t number, std::int64_t at, std::int32_t count);
// The length of the file open on a binary channel, or 0 after raising.
std::int64_t channel_length(Runtime& rt, std::int16_t number);
ByteString read_line(Runtime& rt, std::int16_t number);
ByteString read_field(Runtime& rt, std::int16_t number);
// Collect the bytes; when the buffer has to be written to make room and that write fails,
// the failure is raised here (and the channel's file will not be replaced).
void write_item(Runtime& rt, std::int16_t number, const ByteString& text);
void end_line(Runtime& rt, std::int16_t number);
// Whether the channel is open (for callers that must skip work on a channel that is not).
bool channel_is_open(const Runtime& rt, std::int16_t number);

}  // namespace mapsweep
