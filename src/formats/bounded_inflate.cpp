#include "formats/bounded_inflate.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <new>

namespace mapsweep::formats {
namespace {

constexpr std::size_t kFirstOutputBytes = 16 * 1024;

}  // namespace

void BoundedInflate::StreamEnd::operator()(z_stream_s* stream) const {
  inflateEnd(stream);
  delete stream;
}

BoundedInflate::BoundedInflate(std::size_t limit) : limit_(limit) {
  auto stream = std::make_unique<z_stream_s>();  // zero-filled: zlib's default allocator
  // Negative window bits: raw deflate data, no zlib header or trailer.
  if (inflateInit2(stream.get(), -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  stream_.reset(stream.release());
  if (limit_ == 0) status_ = Status::kDone;
}

BoundedInflate::~BoundedInflate() = default;

void BoundedInflate::lower_limit(std::size_t limit) {
  limit_ = std::min(limit_, limit);
  if (produced_ >= limit_ && status_ == Status::kNeedsInput) status_ = Status::kDone;
}

BoundedInflate::Status BoundedInflate::feed(std::string_view compressed) {
  z_stream_s& stream = *stream_;
  while (status_ == Status::kNeedsInput) {
    if (stream.avail_in == 0) {
      if (compressed.empty()) break;
      const std::size_t piece = std::min<std::size_t>(compressed.size(), UINT_MAX);
      // zlib reads through a non-const pointer but never writes the input.
      stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
      stream.avail_in = static_cast<uInt>(piece);
      compressed.remove_prefix(piece);
    }
    if (produced_ == output_.size()) {
      output_.resize(std::min(limit_, std::max(kFirstOutputBytes, 2 * output_.size())));
    }
    const std::size_t room = std::min<std::size_t>(output_.size() - produced_, UINT_MAX);
    stream.next_out = reinterpret_cast<Bytef*>(output_.data() + produced_);
    stream.avail_out = static_cast<uInt>(room);
    const int result = inflate(&stream, Z_NO_FLUSH);
    produced_ += room - stream.avail_out;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_STREAM_END || produced_ == limit_) {
      status_ = Status::kDone;
    } else if (result != Z_OK && result != Z_BUF_ERROR) {
      status_ = Status::kDamaged;
    } else if (result == Z_BUF_ERROR && stream.avail_in != 0 && stream.avail_out != 0) {
      status_ = Status::kDamaged;  // stuck with input and room: never loop on it
    }
  }
  // Nothing of the caller's piece may be kept past this call.
  stream.next_in = nullptr;
  stream.avail_in = 0;
  return status_;
}

}  // namespace mapsweep::formats
