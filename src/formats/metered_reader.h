// Reads from a byte source while counting what the reading costs, so that no file can make
// the program work without end: a hostile archive whose thousands of entries all point at
// one huge map, or whose deflated data expands a thousandfold, is stopped once it has cost
// a small multiple of its own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/byte_source.h"

namespace mapsweep::formats {

// A file may cost this many times its size, in bytes read plus bytes inflated...
inline constexpr std::uint64_t kWorkPerFileByte = 4;
// ...plus this much, so that a small file holding one large deflated map is read whole.
inline constexpr std::uint64_t kWorkAllowance = 64u << 20;
// A read costs at least this much, however few bytes it asks for: millions of tiny
// entries must not buy millions of reads.
inline constexpr std::uint64_t kLeastReadCost = 512;

class MeteredReader {
 public:
  enum class Stop {
    kNone,
    kReadFailed,  // the source failed a read; nothing more is read from it
    kOverBudget,  // the file cost all it may; nothing more is read or inflated
  };

  explicit MeteredReader(ByteSource& source);

  std::uint64_t size() const { return size_; }
  // The `count` bytes at `offset` into `into`, when the budget allows and the source gives
  // them all. False once stopped: every later read fails too.
  bool read_at(std::uint64_t offset, std::size_t count, std::string& into);
  // Charges work done on bytes already read (inflating them); false once over budget.
  bool charge(std::uint64_t work);

  Stop stop() const { return stop_; }
  bool stopped() const { return stop_ != Stop::kNone; }
  std::uint64_t work_done() const { return work_; }
  std::uint64_t budget() const { return budget_; }

 private:
  ByteSource& source_;
  std::uint64_t size_;
  std::uint64_t budget_;
  std::uint64_t work_ = 0;
  Stop stop_ = Stop::kNone;
};

}  // namespace mapsweep::formats
