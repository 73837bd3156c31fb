// Raw deflate data inflated piece by piece, never past a fixed number of output bytes, and
// keeping only the part of the output the caller asked for. A map's entity text may lie
// megabytes into the map: the bytes before it are inflated into a small scratch buffer and
// dropped, so memory holds the wanted text and nothing else, and data that claims a small
// size but expands without end costs no more than the cap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct z_stream_s;

namespace mapsweep::formats {

class BoundedInflate {
 public:
  enum class Status {
    kNeedsInput,  // every byte fed so far is used up and the kept part is not whole yet
    kDone,        // the kept part is whole, or the data ended (see ended())
    kDamaged,     // the data is not valid deflate data
  };

  // Never inflates more than `cap` bytes in all. Keeps [0, cap) until told otherwise.
  // Throws std::bad_alloc when zlib cannot get its memory, here or while inflating.
  explicit BoundedInflate(std::uint64_t cap);
  ~BoundedInflate();
  BoundedInflate(const BoundedInflate&) = delete;
  BoundedInflate& operator=(const BoundedInflate&) = delete;

  // Keeps the output bytes [from, to) from now on (`to` no further than the cap). Kept
  // bytes before `from` are dropped; dropped bytes never come back, so `from` never goes
  // back, and a `to` below what was inflated ends the inflating. Done becomes needing
  // input again when more is wanted and the data has not ended.
  void keep(std::uint64_t from, std::uint64_t to);

  // Inflates the next piece of compressed data until the kept part is whole, the data
  // ends or the piece and what zlib holds are used up. Input the kept part did not need
  // is held (copied) for when keep() wants more: feed("") then goes on with it, and with
  // output zlib had not given yet. Once done or damaged, pieces are not looked at (done
  // ones are held).
  Status feed(std::string_view compressed);
  // Input is held back for a wider kept part (only ever when done before the data ended).
  bool has_held_input() const { return !pending_.empty(); }

  Status status() const { return status_; }
  // The deflate data ended (input after its end is ignored).
  bool ended() const { return ended_; }
  // The kept output: the bytes inflated so far within [from, to).
  std::string_view kept() const { return kept_; }
  // All bytes inflated so far, kept or not: the work done.
  std::uint64_t produced() const { return produced_; }

 private:
  struct StreamEnd {
    void operator()(z_stream_s* stream) const;
  };
  void settle();
  void inflate_step();
  void take_output(const char* bytes, std::size_t count);

  std::unique_ptr<z_stream_s, StreamEnd> stream_;
  std::uint64_t cap_;
  std::uint64_t from_ = 0;
  std::uint64_t to_;
  std::uint64_t produced_ = 0;
  std::uint64_t kept_start_ = 0;  // where kept_ begins in the output
  std::string kept_;              // output bytes from kept_start_ on, within [from_, to_)
  std::string scratch_;  // where zlib writes; fixed size, so its room never shrinks
  std::string pending_;  // input not yet inflated when the kept part filled up
  bool ended_ = false;
  Status status_ = Status::kNeedsInput;
};

}  // namespace mapsweep::formats
