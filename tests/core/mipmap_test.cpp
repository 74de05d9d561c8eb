#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "core/mipmap.h"

namespace vellum {
namespace {

using Pixels = std::vector<uint8_t>;

// The filter written plainly, one byte channel at a time, into a separate buffer.
Pixels referenceHalve(const Pixels& in, uint32_t w, uint32_t h, LevelSize* next) {
  *next = nextLevelSize(w, h);
  Pixels out(uint64_t(next->width) * next->height * 4);
  auto at = [&](uint32_t x, uint32_t y, int c) -> uint32_t { return in[(uint64_t(y) * w + x) * 4 + c]; };
  for (uint32_t y = 0; y < next->height; ++y)
    for (uint32_t x = 0; x < next->width; ++x)
      for (int c = 0; c < 4; ++c) {
        uint32_t v;
        if (w > 1 && h > 1)
          v = (at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) + at(2 * x + 1, 2 * y + 1, c) + 1) >> 2;
        else if (h == 1)
          v = (at(2 * x, 0, c) + at(2 * x + 1, 0, c)) >> 1;
        else
          v = (at(0, 2 * y, c) + at(0, 2 * y + 1, c)) >> 1;
        out[(uint64_t(y) * next->width + x) * 4 + c] = uint8_t(v);
      }
  return out;
}

TEST(HalveLevel, InPlaceWordMethodEqualsThePerChannelFormulas) {
  std::mt19937 rng(5);
  const uint32_t sizes[][2] = {{2, 2}, {3, 3}, {5, 3}, {7, 1}, {1, 9}, {64, 33}, {33, 64}, {255, 2}, {2, 255}, {128, 128}};
  for (auto [w, h] : sizes) {
    for (int trial = 0; trial < 20; ++trial) {
      Pixels pixels(uint64_t(w) * h * 4);
      // Mix full-range noise with extremes so every carry case of the lanes is reached.
      for (auto& p : pixels) p = trial % 3 == 0 ? uint8_t(rng() & 1 ? 255 : 0) : uint8_t(rng());
      LevelSize want;
      Pixels expected = referenceHalve(pixels, w, h, &want);
      LevelSize got = halveLevel(pixels.data(), w, h);
      ASSERT_EQ(got.width, want.width);
      ASSERT_EQ(got.height, want.height);
      ASSERT_TRUE(std::equal(expected.begin(), expected.end(), pixels.begin())) << w << "x" << h;
    }
  }
}

TEST(HalveLevel, RoundingOfTheBoxAndTruncationOfPairs) {
  // A 2 x 2 block: sums 2 -> 0, 3 -> 1, 6 -> 1, 7 -> 2, 1020 -> 255.
  Pixels box = {0, 1, 1, 255, 0, 1, 2, 255, 1, 1, 2, 255, 1, 0, 2, 255};
  halveLevel(box.data(), 2, 2);
  EXPECT_EQ((Pixels(box.begin(), box.begin() + 4)), (Pixels{0, 1, 2, 255}));
  // Channel sums 6 -> 1, 7 -> 2, 3 -> 1, 10 -> 2.
  Pixels edges = {1, 2, 1, 3, 1, 2, 1, 3, 2, 1, 1, 2, 2, 2, 0, 2};
  halveLevel(edges.data(), 2, 2);
  EXPECT_EQ((Pixels(edges.begin(), edges.begin() + 4)), (Pixels{1, 2, 1, 2}));
  // Pairs truncate: (10, 20, 30, 255) and (11, 21, 31, 254) give (10, 20, 30, 254).
  Pixels row = {10, 20, 30, 255, 11, 21, 31, 254};
  LevelSize next = halveLevel(row.data(), 2, 1);
  EXPECT_EQ(next.width, 1u);
  EXPECT_EQ(next.height, 1u);
  EXPECT_EQ((Pixels(row.begin(), row.begin() + 4)), (Pixels{10, 20, 30, 254}));
}

TEST(HalveLevel, OddSidesDropTheLastColumnOrRow) {
  // 3 x 3 halves to 1 x 1 made from the top-left 2 x 2 block only.
  Pixels p(9 * 4, 200);
  for (int i : {0, 1, 3, 4}) p[4 * i] = 4;
  halveLevel(p.data(), 3, 3);
  EXPECT_EQ(p[0], 4);
  // 1 x 5: pixels 0+1 and 2+3; pixel 4 dropped; then 1 x 1.
  Pixels col = {0, 0, 0, 0, 2, 0, 0, 0, 10, 0, 0, 0, 20, 0, 0, 0, 99, 0, 0, 0};
  LevelSize s = halveLevel(col.data(), 1, 5);
  EXPECT_EQ(s.height, 2u);
  EXPECT_EQ(col[0], 1);
  EXPECT_EQ(col[4], 15);
  s = halveLevel(col.data(), 1, 2);
  EXPECT_EQ(s.height, 1u);
  EXPECT_EQ(col[0], 8);
}

TEST(HalveLevel, ChainsOf5x3And65535x1) {
  LevelSize s = nextLevelSize(5, 3);
  EXPECT_EQ(s.width, 2u);
  EXPECT_EQ(s.height, 1u);
  s = nextLevelSize(s.width, s.height);
  EXPECT_EQ(s.width, 1u);
  EXPECT_EQ(s.height, 1u);

  Pixels row(65535 * 4);
  for (size_t i = 0; i < row.size(); ++i) row[i] = uint8_t(i * 7);
  uint32_t w = 65535, h = 1, levels = 1;
  while (w + h > 2) {
    LevelSize n = halveLevel(row.data(), w, h);
    w = n.width;
    h = n.height;
    ++levels;
  }
  EXPECT_EQ(levels, 16u);
}

}  // namespace
}  // namespace vellum
