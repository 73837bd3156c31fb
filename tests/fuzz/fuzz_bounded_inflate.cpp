// Fuzzes BoundedInflate against zlib inflating the same data in one go. Whatever the
// pieces the data comes in and whatever windows the caller keeps: it never inflates past
// its cap, what it keeps is exactly that window of the whole output, it needs input only
// when the data stops short, and it says the data ended or is damaged only when zlib does.
// Feeding the data whole or in pieces gives the same result unless the data is damaged
// (where damage is seen first may depend on how much input zlib had at hand).
//
// The input chooses the cap, the windows and the piece sizes, and either is deflate data
// itself or is plain text that is deflated here (repeated, at any level, sometimes cut or
// with a byte changed), so that most inputs are long valid streams.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "formats/bounded_inflate.h"
#include "fuzz_check.h"
#include "support/zip_writer.h"
#include "zlib_reference.h"

using mapsweep::formats::BoundedInflate;
using mapsweep::fuzz::check;
using mapsweep::fuzz::ReferenceInflate;
using Status = BoundedInflate::Status;

namespace {

constexpr std::uint32_t kLargestCap = 1u << 20;
constexpr std::size_t kLargestPlainText = 1u << 20;

struct Window {
  std::uint64_t from = 0;
  std::uint64_t to = 0;
  int pieces_after = 0;  // pieces fed before the next window is kept
  bool go_on = false;    // feed("") right after keep(), to go on with input held back
};

struct Plan {
  std::uint64_t cap = 0;
  std::vector<Window> windows;
  std::vector<std::size_t> piece_sizes;
  std::string compressed;
};

std::string deflated_text(FuzzedDataProvider& input) {
  const int level = input.ConsumeIntegralInRange(0, 9);
  const int copies = input.ConsumeIntegralInRange(1, 256);
  const int damage = input.ConsumeIntegralInRange(0, 3);
  const auto damage_at = input.ConsumeIntegral<std::uint32_t>();
  const std::string once = input.ConsumeRemainingBytesAsString();
  std::string plain;
  for (int i = 0; i < copies && plain.size() + once.size() <= kLargestPlainText; ++i) plain += once;
  std::string compressed = mapsweep::testing::raw_deflate(plain, level);
  if (compressed.empty()) return compressed;
  if (damage == 2) compressed.resize(damage_at % compressed.size());
  if (damage == 3) compressed[damage_at % compressed.size()] ^= static_cast<char>(1 + damage_at % 255);
  return compressed;
}

Plan plan_of(FuzzedDataProvider& input) {
  Plan plan;
  plan.cap = input.ConsumeIntegralInRange<std::uint32_t>(0, kLargestCap);
  const int windows = input.ConsumeIntegralInRange(0, 3);
  for (int i = 0; i < windows; ++i) {
    Window window;
    window.from = input.ConsumeIntegralInRange<std::uint64_t>(0, plan.cap + 64);
    window.to = input.ConsumeIntegralInRange<std::uint64_t>(0, plan.cap + 64);
    window.pieces_after = input.ConsumeIntegralInRange(0, 4);
    window.go_on = input.ConsumeBool();
    plan.windows.push_back(window);
  }
  const int sizes = input.ConsumeIntegralInRange(1, 4);
  for (int i = 0; i < sizes; ++i) {
    plan.piece_sizes.push_back(input.ConsumeIntegralInRange<std::size_t>(1, 8192));
  }
  plan.compressed = input.ConsumeBool() ? deflated_text(input) : input.ConsumeRemainingBytesAsString();
  return plan;
}

// What the inflater keeps, by the promises of keep(): `from` never goes back, `to` is held
// to the cap, and a `to` below what was inflated ends the inflating and loses the bytes
// past it for good.
class KeptModel {
 public:
  explicit KeptModel(std::uint64_t cap) : cap_(cap), to_(cap) {}

  void keep(std::uint64_t from, std::uint64_t to, std::uint64_t produced) {
    from_ = std::max(from, from_);
    to = std::min(to, cap_);
    if (to < produced) {
      cap_ = produced;
      lost_from_ = std::min(lost_from_, to);
    }
    to_ = to;
  }

  std::uint64_t to() const { return to_; }
  std::string_view expected(std::string_view whole, std::uint64_t produced) const {
    const std::uint64_t end = std::min({to_, produced, lost_from_});
    if (end <= from_) return {};
    return whole.substr(static_cast<std::size_t>(from_), static_cast<std::size_t>(end - from_));
  }

 private:
  std::uint64_t cap_;
  std::uint64_t from_ = 0;
  std::uint64_t to_;
  std::uint64_t lost_from_ = std::numeric_limits<std::uint64_t>::max();
};

void check_state(const BoundedInflate& inflater, const KeptModel& model, std::uint64_t cap,
                 const ReferenceInflate& whole, bool all_fed) {
  check(inflater.produced() <= cap);
  if (inflater.status() == Status::kDamaged) {
    // The same bytes with at least as much room: zlib must have found the damage too.
    check(whole.damaged || whole.full);
    return;
  }
  check(inflater.produced() <= whole.output.size());
  check(inflater.kept() == model.expected(whole.output, inflater.produced()));
  if (inflater.ended()) check(whole.ended && inflater.produced() == whole.output.size());
  if (inflater.status() == Status::kDone) {
    check(inflater.ended() || inflater.produced() >= model.to());
  } else {
    check(!inflater.ended() && inflater.produced() < model.to());
    if (all_fed) check(!whole.ended && !whole.damaged && inflater.produced() == whole.output.size());
  }
}

// Whether the inflater has had every byte of the data: fed, and none held back.
bool used_up(const BoundedInflate& inflater, const Plan& plan, std::size_t at) {
  return at >= plan.compressed.size() && !inflater.has_held_input();
}

// Feeds the next piece; false when the data is used up. Pieces go on being fed after the
// inflater is done: it must not look at them.
bool feed_piece(BoundedInflate& inflater, const Plan& plan, std::size_t& at, std::size_t& piece) {
  if (at >= plan.compressed.size()) return false;
  const std::size_t size = plan.piece_sizes[piece++ % plan.piece_sizes.size()];
  const Status status = inflater.feed(std::string_view(plan.compressed).substr(at, size));
  check(status == inflater.status());
  at += size;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const Plan plan = plan_of(input);
  const ReferenceInflate whole = mapsweep::fuzz::reference_inflate(
      plan.compressed, static_cast<std::size_t>(plan.cap) + 1);
  const KeptModel everything(plan.cap);

  BoundedInflate at_once(plan.cap);
  check_state(at_once, everything, plan.cap, whole, false);
  at_once.feed(plan.compressed);
  check_state(at_once, everything, plan.cap, whole, true);
  // Done or damaged, the inflater holds back input only when done before the data ended.
  check(!at_once.has_held_input() || (at_once.status() == Status::kDone && !at_once.ended()));

  BoundedInflate in_pieces(plan.cap);
  std::size_t at = 0;
  std::size_t piece = 0;
  while (feed_piece(in_pieces, plan, at, piece)) {
    check_state(in_pieces, everything, plan.cap, whole, used_up(in_pieces, plan, at));
  }
  if (at_once.status() != Status::kDamaged && in_pieces.status() != Status::kDamaged) {
    check(in_pieces.status() == at_once.status() && in_pieces.kept() == at_once.kept());
    check(in_pieces.produced() == at_once.produced());
    // Fed whole, zlib may read the end of the data right after the last byte it was let
    // write; fed in pieces, it may not have had those bytes yet.
    if (at_once.produced() < plan.cap) check(in_pieces.ended() == at_once.ended());
  }

  BoundedInflate windowed(plan.cap);
  KeptModel model(plan.cap);
  at = 0;
  piece = 0;
  for (const Window& window : plan.windows) {
    windowed.keep(window.from, window.to);
    model.keep(window.from, window.to, windowed.produced());
    check_state(windowed, model, plan.cap, whole, false);
    if (window.go_on) {
      check(windowed.feed("") == windowed.status());
      check_state(windowed, model, plan.cap, whole, used_up(windowed, plan, at));
    }
    for (int i = 0; i < window.pieces_after && feed_piece(windowed, plan, at, piece); ++i) {
      check_state(windowed, model, plan.cap, whole, used_up(windowed, plan, at));
    }
  }
  while (feed_piece(windowed, plan, at, piece)) {
    check_state(windowed, model, plan.cap, whole, used_up(windowed, plan, at));
  }
  windowed.feed("");
  check_state(windowed, model, plan.cap, whole, true);
  return 0;
}
