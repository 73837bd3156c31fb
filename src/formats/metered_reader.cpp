#include "formats/metered_reader.h"

#include <algorithm>
#include <limits>

namespace mapsweep::formats {
namespace {

// size * kWorkPerFileByte + kWorkAllowance, saturating rather than wrapping.
std::uint64_t budget_for(std::uint64_t size) {
  constexpr std::uint64_t kMost = std::numeric_limits<std::uint64_t>::max();
  if (size > (kMost - kWorkAllowance) / kWorkPerFileByte) return kMost;
  return size * kWorkPerFileByte + kWorkAllowance;
}

}  // namespace

MeteredReader::MeteredReader(ByteSource& source)
    : source_(source), size_(source.size()), budget_(budget_for(size_)) {}

bool MeteredReader::charge(std::uint64_t work) {
  if (stopped()) return false;
  if (work > budget_ - work_) {
    work_ = budget_;
    stop_ = Stop::kOverBudget;
    return false;
  }
  work_ += work;
  return true;
}

bool MeteredReader::read_at(std::uint64_t offset, std::size_t count, std::string& into) {
  into.clear();
  if (!charge(std::max<std::uint64_t>(count, kLeastReadCost))) return false;
  if (source_.read(offset, count, into) && into.size() == count) return true;
  into.clear();
  stop_ = Stop::kReadFailed;
  return false;
}

}  // namespace mapsweep::formats
