// Raw deflate data inflated piece by piece up to a fixed number of output bytes, so that
// data claiming a small size but expanding without end costs no more than the limit.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct z_stream_s;

namespace mapsweep::formats {

class BoundedInflate {
 public:
  enum class Status {
    kNeedsInput,  // every byte fed so far is used up; feed the next piece
    kDone,        // the limit is reached or the data ended: output() is final
    kDamaged,     // the data is not valid deflate data
  };

  // Throws std::bad_alloc when zlib cannot get its memory, here or while inflating.
  explicit BoundedInflate(std::size_t limit);
  ~BoundedInflate();
  BoundedInflate(const BoundedInflate&) = delete;
  BoundedInflate& operator=(const BoundedInflate&) = delete;

  // Inflates the next piece of compressed data. Once done or damaged, further pieces are
  // not looked at and the status stays. Data ending before `limit` is done: compare the
  // output's size with what was wanted. Input after the data's end is ignored.
  Status feed(std::string_view compressed);

  // Lowers the limit once the caller knows how much it needs (never raises it); output
  // already past the new limit stays, and the inflating is done.
  void lower_limit(std::size_t limit);

  Status status() const { return status_; }
  // At most `limit` bytes.
  std::string_view output() const { return std::string_view(output_).substr(0, produced_); }

 private:
  struct StreamEnd {
    void operator()(z_stream_s* stream) const;
  };
  std::unique_ptr<z_stream_s, StreamEnd> stream_;
  std::size_t limit_;
  std::string output_;  // grown as output arrives, never past the limit
  std::size_t produced_ = 0;
  Status status_ = Status::kNeedsInput;
};

}  // namespace mapsweep::formats
