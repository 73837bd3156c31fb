// A byte source over memory that remembers every read it served, so that a fuzz target can
// hold a reader to what it may read: only ranges within the file, no more than the file's
// budget, and names that are bytes of the file as read. It can also be told to fail from
// some read on, the way a file that cannot be read further does.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "formats/byte_source.h"
#include "formats/metered_reader.h"

namespace mapsweep::fuzz {

class RecordingSource final : public formats::ByteSource {
 public:
  // Reads from the `fail_from`-th on (counting from 1) fail.
  explicit RecordingSource(std::string_view bytes,
                           std::uint64_t fail_from = std::numeric_limits<std::uint64_t>::max())
      : bytes_(bytes), memory_(bytes), fail_from_(fail_from) {}

  std::uint64_t size() const override { return memory_.size(); }
  bool read(std::uint64_t offset, std::size_t count, std::string& into) override {
    ++reads_;
    charged_ += std::max<std::uint64_t>(count, formats::kLeastReadCost);
    if (reads_ >= fail_from_) return false;
    if (!memory_.read(offset, count, into)) return false;
    bytes_read_ += into.size();
    served_.push_back({into.data(), into.size(), offset});
    return true;
  }

  std::uint64_t reads() const { return reads_; }
  std::uint64_t bytes_read() const { return bytes_read_; }
  // What the reads cost by the meter's rule (a small read costs as much as kLeastReadCost).
  std::uint64_t charged() const { return charged_; }

  // Hands `visit` the offset and length of every read served, in order.
  template <typename Visit>
  void for_each_served(Visit&& visit) const {
    for (const Served& served : served_) visit(served.offset, served.size);
  }

  // Whether `view` points into a buffer a read filled and holds the file's bytes at that
  // place: the newest read whose buffer takes in the whole view is the one that filled it.
  bool came_from_read(std::string_view view) const {
    if (view.empty()) return true;
    const auto at = reinterpret_cast<std::uintptr_t>(view.data());
    for (auto served = served_.rbegin(); served != served_.rend(); ++served) {
      const auto begin = reinterpret_cast<std::uintptr_t>(served->data);
      if (at < begin || at - begin > served->size || view.size() > served->size - (at - begin)) {
        continue;
      }
      return bytes_.substr(served->offset + (at - begin), view.size()) == view;
    }
    return false;
  }

 private:
  struct Served {
    const char* data;
    std::size_t size;
    std::uint64_t offset;
  };
  std::string_view bytes_;
  formats::MemorySource memory_;
  std::uint64_t fail_from_;
  std::uint64_t reads_ = 0;
  std::uint64_t bytes_read_ = 0;
  std::uint64_t charged_ = 0;
  std::vector<Served> served_;
};

// What the meter lets a file of `size` bytes cost; saturation is no concern for fuzz
// inputs.
inline std::uint64_t budget_of(std::uint64_t size) {
  return size * formats::kWorkPerFileByte + formats::kWorkAllowance;
}

}  // namespace mapsweep::fuzz
