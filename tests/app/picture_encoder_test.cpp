// The encoder's second thread: every picture comes back as its own PNG file, in the order
// given, however far the taking lags behind the giving, and forgetting leaves it ready for
// more.
#include "app/picture_encoder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <random>
#include <string>
#include <vector>

#include "app/layout_png.h"

namespace mapsweep {
namespace {

formats::LayoutPicture random_picture(std::mt19937& random) {
  formats::LayoutPicture picture{1 + random() % 40, {}};
  picture.levels.resize(picture.side * picture.side);
  for (std::uint8_t& level : picture.levels) {
    if (random() % 4 == 0) level = static_cast<std::uint8_t>(random() % 256);
  }
  return picture;
}

TEST(PictureEncoder, GivesEachPictureItsOwnFileInTheOrderGiven) {
  std::mt19937 random(42);
  PictureEncoder encoder;
  std::deque<std::string> expected;
  for (int round = 0; round < 300; ++round) {
    const formats::LayoutPicture picture = random_picture(random);
    expected.push_back(layout_png(picture));
    encoder.give(picture);
    // Takes now and then, as many as it likes: sometimes none for a while, sometimes all.
    for (std::size_t take = random() % 3 == 0 ? random() % (encoder.waiting() + 1) : 0; take > 0;
         --take) {
      ASSERT_EQ(encoder.take_oldest(), expected.front()) << "round " << round;
      expected.pop_front();
    }
    ASSERT_EQ(encoder.waiting(), expected.size());
  }
  while (encoder.waiting() > 0) {
    ASSERT_EQ(encoder.take_oldest(), expected.front());
    expected.pop_front();
  }
  EXPECT_TRUE(expected.empty());
}

TEST(PictureEncoder, ForgettingDropsWhatWaitsAndTheNextPictureStillComesBack) {
  std::mt19937 random(5);
  PictureEncoder encoder;
  for (int i = 0; i < 20; ++i) encoder.give(random_picture(random));
  encoder.forget_all();
  EXPECT_EQ(encoder.waiting(), 0u);
  const formats::LayoutPicture picture = random_picture(random);
  encoder.give(picture);
  ASSERT_EQ(encoder.waiting(), 1u);
  EXPECT_EQ(encoder.take_oldest(), layout_png(picture));
}

}  // namespace
}  // namespace mapsweep
