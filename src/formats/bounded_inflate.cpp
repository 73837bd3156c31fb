#include "formats/bounded_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace mapsweep::formats {
namespace {

// zlib writes into a buffer of this size, whatever the kept part: its room is fixed, so no
// change of the kept range can leave zlib a room larger than the buffer.
constexpr std::size_t kScratchBytes = 32 * 1024;

}  // namespace

void BoundedInflate::StreamEnd::operator()(z_stream_s* stream) const {
  inflateEnd(stream);
  delete stream;
}

BoundedInflate::BoundedInflate(std::uint64_t cap)
    : cap_(cap), to_(cap), scratch_(kScratchBytes, '\0') {
  auto stream = std::make_unique<z_stream_s>();  // zero-filled: zlib's default allocator
  // Negative window bits: raw deflate data, no zlib header or trailer.
  if (inflateInit2(stream.get(), -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  stream_.reset(stream.release());
  settle();
}

BoundedInflate::~BoundedInflate() = default;

void BoundedInflate::settle() {
  if (status_ == Status::kDamaged) return;
  status_ = ended_ || produced_ >= std::min(to_, cap_) ? Status::kDone : Status::kNeedsInput;
}

void BoundedInflate::keep(std::uint64_t from, std::uint64_t to) {
  from = std::max(from, from_);
  to = std::min(to, cap_);
  // An end below what was inflated already ends the inflating: the bytes past it were
  // dropped and cannot be wanted later.
  if (to < produced_) cap_ = produced_;
  if (from > kept_start_) {
    kept_.erase(0, static_cast<std::size_t>(std::min<std::uint64_t>(from - kept_start_, kept_.size())));
    kept_start_ = from;
  }
  if (to <= kept_start_) {
    kept_.clear();
  } else if (to - kept_start_ < kept_.size()) {
    kept_.resize(static_cast<std::size_t>(to - kept_start_));
  }
  from_ = from;
  to_ = to;
  // The kept part's room at once: grown by doubling, an 8 MiB text would cost 16.
  if (to > from_) kept_.reserve(static_cast<std::size_t>(to - from_));
  settle();
}

void BoundedInflate::take_output(const char* bytes, std::size_t count) {
  const std::uint64_t start = produced_;
  produced_ += count;
  const std::uint64_t begin = std::max(start, from_);
  const std::uint64_t end = std::min(produced_, to_);
  if (begin >= end) return;
  if (kept_.empty()) kept_start_ = begin;
  kept_.append(bytes + (begin - start), static_cast<std::size_t>(end - begin));
}

BoundedInflate::Status BoundedInflate::feed(std::string_view compressed) {
  // Input held back when the kept part filled up comes first.
  std::string held;
  if (!pending_.empty()) {
    held = std::move(pending_) + std::string(compressed);
    pending_.clear();
    compressed = held;
  }
  z_stream_s& stream = *stream_;
  while (status_ == Status::kNeedsInput) {
    if (stream.avail_in == 0 && !compressed.empty()) {
      const std::size_t piece = std::min<std::size_t>(compressed.size(), UINT_MAX);
      // zlib reads through a non-const pointer but never writes the input.
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
      stream.avail_in = static_cast<uInt>(piece);
      compressed.remove_prefix(piece);
    }
    // Even with no input left zlib may hold output: bits it took in before the kept part
    // filled, or the rest of a match. Only a step that gives nothing means more input.
    const std::uint64_t before = produced_;
    inflate_step();
    if (stream.avail_in == 0 && compressed.empty() && produced_ == before) break;
  }
  // Nothing of the caller's piece may be referred to past this call: what the kept part
  // did not need yet is copied, for when a later window wants more.
  if (status_ == Status::kDone && !ended_) {
    pending_.assign(reinterpret_cast<const char*>(stream.next_in), stream.avail_in);
    pending_.append(compressed);
  }
  stream.next_in = nullptr;
  stream.avail_in = 0;
  return status_;
}

void BoundedInflate::inflate_step() {
  z_stream_s& stream = *stream_;
  // Never inflate past the kept part's end: what lies beyond is not wanted yet.
  const auto room =
      static_cast<std::size_t>(std::min<std::uint64_t>(scratch_.size(), to_ - produced_));
  stream.next_out = reinterpret_cast<Bytef*>(scratch_.data());
  stream.avail_out = static_cast<uInt>(room);
  const int result = inflate(&stream, Z_NO_FLUSH);
  take_output(scratch_.data(), room - stream.avail_out);
  if (result == Z_MEM_ERROR) throw std::bad_alloc();
  if (result == Z_STREAM_END) {
    ended_ = true;
  } else if (result != Z_OK && result != Z_BUF_ERROR) {
    status_ = Status::kDamaged;
  } else if (result == Z_BUF_ERROR && stream.avail_in != 0 && stream.avail_out != 0) {
    status_ = Status::kDamaged;  // stuck with input and room: never loop on it
  }
  settle();
}

}  // namespace mapsweep::formats
