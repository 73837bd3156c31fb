// Bounded inflation: data fed in any pieces comes out whole, output stops at the cap
// however far the data would expand, a kept window is exactly that part of the output, and
// damaged or cut data is told apart from done.
#include "formats/bounded_inflate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "support/zip_writer.h"

namespace mapsweep::formats {
namespace {

using Status = BoundedInflate::Status;

std::string sample_text() {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += std::to_string(i * 7919 % 1000) + (i % 13 ? " " : "\n");
  return text;
}

TEST(BoundedInflate, AnyPiecesGiveTheWholeData) {
  const std::string text = sample_text();
  const std::string deflated = testing::raw_deflate(text);
  for (const std::size_t piece : {std::size_t{1}, std::size_t{1000}, deflated.size()}) {
    BoundedInflate inflate(1 << 20);
    Status status = Status::kNeedsInput;
    for (std::size_t at = 0; at < deflated.size(); at += piece) {
      ASSERT_EQ(status, Status::kNeedsInput);
      status = inflate.feed(std::string_view(deflated).substr(at, piece));
    }
    EXPECT_EQ(status, Status::kDone);
    EXPECT_EQ(inflate.kept(), text);
    // Whatever follows the data's end is not looked at.
    EXPECT_EQ(inflate.feed("trailing bytes"), Status::kDone);
  }
}

TEST(BoundedInflate, StopsAtTheLimit) {
  const std::string text = sample_text();
  BoundedInflate inflate(1000);
  EXPECT_EQ(inflate.feed(testing::raw_deflate(text)), Status::kDone);
  EXPECT_EQ(inflate.kept(), text.substr(0, 1000));
  EXPECT_EQ(BoundedInflate(0).feed(testing::raw_deflate(text)), Status::kDone);

  // 64 MiB of zeros in 64 KiB: the output stops at 1 MiB and the rest of the
  // input is never inflated.
  const std::string bomb = testing::raw_deflate(std::string(64u << 20, '\0'), 9);
  BoundedInflate bounded(1 << 20);
  EXPECT_EQ(bounded.feed(std::string_view(bomb).substr(0, bomb.size() / 2)), Status::kDone);
  EXPECT_EQ(bounded.kept(), std::string(1 << 20, '\0'));
  EXPECT_EQ(bounded.feed(std::string_view(bomb).substr(bomb.size() / 2)), Status::kDone);
}

// A window moved on while inflating, as a map's header and then its entity text are kept:
// whatever the pieces and the window, the kept bytes are that part of the whole output.
// (Moving the window once let the output shrink below what zlib had written and zlib then
// wrote past the buffer.)
TEST(BoundedInflate, KeptWindowsAreExactlyThatPartOfTheOutput) {
  const std::string text = sample_text();
  for (const int level : {1, 6, 9}) {
    const std::string deflated = testing::raw_deflate(text, level);
    for (const std::size_t piece : {std::size_t{1}, std::size_t{4096}, deflated.size()}) {
      for (const auto& [from, to] : {std::pair<std::size_t, std::size_t>{0, 16},
                                     {10, 20000},
                                     {16, 21000},
                                     {40000, 80000},
                                     {text.size() - 5, text.size() + 100}}) {
        BoundedInflate inflate(1 << 20);
        inflate.keep(0, 16);
        std::size_t at = 0;
        for (; at < deflated.size() && inflate.status() == Status::kNeedsInput; at += piece) {
          inflate.feed(std::string_view(deflated).substr(at, piece));
        }
        ASSERT_EQ(inflate.kept(), text.substr(0, 16));
        inflate.keep(from, to);
        inflate.feed({});  // what the header left over comes first
        for (; at < deflated.size() && inflate.status() == Status::kNeedsInput; at += piece) {
          inflate.feed(std::string_view(deflated).substr(at, piece));
        }
        EXPECT_EQ(inflate.status(), Status::kDone);
        EXPECT_EQ(inflate.kept(), text.substr(from, to - from))
            << "level " << level << " piece " << piece << " window " << from;
        EXPECT_LE(inflate.produced(), std::max(to, std::size_t{16}));
      }
    }
  }
}

// A map whose header lies inside one long match, its entity text further in: zlib takes
// in every input byte before the first 16 bytes are out, so the text's window must be
// filled from what zlib holds, with no input.
TEST(BoundedInflate, ALaterWindowGetsWhatZlibStillHolds) {
  std::string data("BSP2V\0\0\0P\0\0\0", 12);
  for (int i = 0; i < 113; ++i) data += "ab";  // one match of at most 258 bytes
  for (int level = 1; level <= 9; ++level) {
    BoundedInflate inflate(1 << 20);
    inflate.keep(0, 16);
    EXPECT_EQ(inflate.feed(testing::raw_deflate(data, level)), Status::kDone);
    EXPECT_EQ(inflate.kept(), data.substr(0, 16));
    inflate.keep(86, data.size());
    EXPECT_EQ(inflate.feed({}), Status::kDone) << "level " << level;
    EXPECT_EQ(inflate.kept(), data.substr(86));
  }
}

TEST(BoundedInflate, DamagedAndCutDataAreNotDone) {
  const std::string deflated = testing::raw_deflate(sample_text());
  BoundedInflate cut(1 << 20);
  EXPECT_EQ(cut.feed(std::string_view(deflated).substr(0, deflated.size() - 1)),
            Status::kNeedsInput);
  EXPECT_EQ(cut.feed(""), Status::kNeedsInput);

  BoundedInflate damaged(1 << 20);
  EXPECT_EQ(damaged.feed("\xFF\xFF\xFF\xFF"), Status::kDamaged);  // a reserved block type
  EXPECT_EQ(damaged.feed(deflated), Status::kDamaged);
}

}  // namespace
}  // namespace mapsweep::formats
