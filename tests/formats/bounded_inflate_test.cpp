// Bounded inflation: data fed in any pieces comes out whole, output stops at the limit
// however far the data would expand, and damaged or cut data is told apart from done.
#include "formats/bounded_inflate.h"

#include <gtest/gtest.h>

#include <string>

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
    EXPECT_EQ(inflate.output(), text);
    // Whatever follows the data's end is not looked at.
    EXPECT_EQ(inflate.feed("trailing bytes"), Status::kDone);
  }
}

TEST(BoundedInflate, StopsAtTheLimit) {
  const std::string text = sample_text();
  BoundedInflate inflate(1000);
  EXPECT_EQ(inflate.feed(testing::raw_deflate(text)), Status::kDone);
  EXPECT_EQ(inflate.output(), text.substr(0, 1000));
  EXPECT_EQ(BoundedInflate(0).feed(testing::raw_deflate(text)), Status::kDone);

  // 64 MiB of zeros in 64 KiB: the output stops at 1 MiB and the rest of the
  // input is never inflated.
  const std::string bomb = testing::raw_deflate(std::string(64u << 20, '\0'), 9);
  BoundedInflate bounded(1 << 20);
  EXPECT_EQ(bounded.feed(std::string_view(bomb).substr(0, bomb.size() / 2)), Status::kDone);
  EXPECT_EQ(bounded.output(), std::string(1 << 20, '\0'));
  EXPECT_EQ(bounded.feed(std::string_view(bomb).substr(bomb.size() / 2)), Status::kDone);
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
