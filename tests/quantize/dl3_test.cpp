#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <utility>
#include <string>
#include <vector>

#include "quantize/dl3.h"
#include "quantize/dl3_cells.h"
#include "test_images.h"

namespace vellum {
namespace {

using testing::Pixels;

// The DL3 procedure written plainly: quadratic scans over the compacted cells for every
// search, every least-cost pick and every refresh.
struct RefCell {
  uint64_t sum[3];
  uint64_t count;
  float cost;
  uint32_t partner;
  int mean[3];
};

float refCost(const RefCell& a, const RefCell& b) {
  const uint64_t n = a.count + b.count;
  float da2 = 0, db2 = 0;
  for (int c = 0; c < 3; ++c) {
    const int m = int((a.sum[c] + b.sum[c] + n / 2) / n);
    da2 += float((a.mean[c] - m) * (a.mean[c] - m));
    db2 += float((b.mean[c] - m) * (b.mean[c] - m));
  }
  return float(b.count) * std::sqrt(db2) + float(a.count) * std::sqrt(da2);
}

struct ReferenceDl3 {
  std::vector<RefCell> cells;
  uint32_t n = 0;

  void search(uint32_t k) {
    float best = 1e31f;
    uint32_t partner = 0;
    for (uint32_t j = k + 1; j < n; ++j) {
      const float c = refCost(cells[k], cells[j]);
      if (c < best) {
        best = c;
        partner = j;
      }
    }
    cells[k].cost = best;
    cells[k].partner = partner;
  }

  void refresh(uint32_t i) {
    search(i);
    for (uint32_t k = 0; k < i; ++k) {
      if (cells[k].partner == i) {
        search(k);
      } else {
        const float c = refCost(cells[k], cells[i]);
        if (c < cells[k].cost) {
          cells[k].cost = c;
          cells[k].partner = i;
        }
      }
    }
  }

  uint32_t run(const Pixels& pixels, int bits, uint8_t palette[1024]) {
    std::vector<RefCell> table(size_t(1) << (3 * bits), RefCell{{0, 0, 0}, 0, 0.0f, 0, {0, 0, 0}});
    const int shift = 8 - bits;
    for (size_t p = 0; p < pixels.size() / 4; ++p) {
      const uint8_t* px = &pixels[p * 4];
      RefCell& cell = table[(size_t(px[0] >> shift) << (2 * bits)) | (size_t(px[1] >> shift) << bits) |
                            size_t(px[2] >> shift)];
      for (int c = 0; c < 3; ++c) cell.sum[c] += px[c];
      ++cell.count;
    }
    auto setMean = [](RefCell& cell) {
      for (int c = 0; c < 3; ++c) cell.mean[c] = int((cell.sum[c] + cell.count / 2) / cell.count);
    };
    for (const RefCell& cell : table)
      if (cell.count > 0) {
        cells.push_back(cell);
        setMean(cells.back());
      }
    n = uint32_t(cells.size());
    if (n > 256) {
      for (uint32_t i = n - 1; i-- > 0;) search(i);
      cells[n - 1].cost = 1e31f;
      cells[n - 1].partner = n;
    }
    while (n > 256) {
      uint32_t i = 0;
      for (uint32_t k = 1; k < n; ++k)
        if (cells[k].cost < cells[i].cost) i = k;
      const uint32_t j = cells[i].partner;
      for (int c = 0; c < 3; ++c) cells[j].sum[c] += cells[i].sum[c];
      cells[j].count += cells[i].count;
      setMean(cells[j]);
      n = n - 1;
      cells[i] = cells[n];
      cells[n - 1].cost = 1e31f;
      cells[n - 1].partner = n;
      for (uint32_t k = 0; k < i; ++k)
        if (cells[k].partner == n) cells[k].partner = i;
      for (uint32_t k = i + 1; k < n; ++k)
        if (cells[k].partner == n) search(k);
      refresh(i);
      if (j != n) refresh(j);
    }
    for (uint32_t k = 0; k < n; ++k) {
      for (int c = 0; c < 3; ++c) palette[k * 4 + c] = uint8_t(cells[k].mean[c]);
      palette[k * 4 + 3] = 255;
    }
    return n;
  }
};

struct Dl3Result {
  uint32_t n;
  std::vector<uint8_t> palette;
};

Dl3Result runDl3(const Pixels& pixels, Dl3Cells cells) {
  Dl3Result r{0, std::vector<uint8_t>(1024, 0xA5)};
  r.n = dl3Palette(pixels.data(), pixels.size() / 4, r.palette.data(), cells);
  return r;
}

Dl3Result runReference(const Pixels& pixels, Dl3Cells cells) {
  Dl3Result r{0, std::vector<uint8_t>(1024, 0xA5)};
  ReferenceDl3 ref;
  r.n = ref.run(pixels, cells == Dl3Cells::Slow ? 6 : 5, r.palette.data());
  return r;
}

void expectSameAsReference(const Pixels& pixels, Dl3Cells cells, const std::string& what) {
  const Dl3Result want = runReference(pixels, cells);
  const Dl3Result got = runDl3(pixels, cells);
  ASSERT_EQ(got.n, want.n) << what;
  EXPECT_TRUE(got.palette == want.palette) << what;
}

TEST(Dl3Differential, RandomColoursMatchThePlainProcedure) {
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    const Pixels pixels = testing::noisePixels(300 + seed * 80, seed);
    expectSameAsReference(pixels, Dl3Cells::Fast, "noise fast");
    expectSameAsReference(pixels, Dl3Cells::Slow, "noise slow");
  }
}

TEST(Dl3Differential, ClusteredColoursMatchThePlainProcedure) {
  for (uint32_t seed = 1; seed <= 10; ++seed) {
    const Pixels pixels = testing::clusterPixels(800 + seed * 50, seed * 7, 4 + int(seed % 13));
    expectSameAsReference(pixels, Dl3Cells::Fast, "clusters fast " + std::to_string(seed));
    expectSameAsReference(pixels, Dl3Cells::Slow, "clusters slow " + std::to_string(seed));
  }
}

// Many small images: rare bookkeeping paths (a stored cost that rises after a search and
// must widen the index's bounds) show up in a few per cent of them.
TEST(Dl3Differential, ManySmallClusteredImagesMatchThePlainProcedure) {
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    const Pixels pixels = testing::clusterPixels(500 + seed % 7 * 50, seed * 13, 3 + int(seed % 17));
    expectSameAsReference(pixels, Dl3Cells::Fast, "small fast " + std::to_string(seed));
    expectSameAsReference(pixels, Dl3Cells::Slow, "small slow " + std::to_string(seed));
  }
}

TEST(Dl3Differential, EvenlySpacedColoursWithManyTiesMatchThePlainProcedure) {
  expectSameAsReference(testing::gradientPixels(64, 48, 4, 5, 30), Dl3Cells::Fast, "gradient 4/5");
  expectSameAsReference(testing::gradientPixels(40, 40, 6, 6, 200), Dl3Cells::Fast, "gradient 6/6");
  expectSameAsReference(testing::gradientPixels(60, 30, 4, 8, 0), Dl3Cells::Slow, "gradient slow");
  for (uint32_t pattern = 0; pattern < 4; ++pattern) {
    expectSameAsReference(testing::latticePixels(8, 32, 3, pattern), Dl3Cells::Fast, "lattice 8");
    expectSameAsReference(testing::latticePixels(9, 16, 60, pattern), Dl3Cells::Slow, "lattice 9");
  }
}

TEST(Dl3Differential, TextureLikeImagesMatchThePlainProcedure) {
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const Pixels pixels = testing::texturePixels(48 + seed * 8, 40, seed);
    expectSameAsReference(pixels, Dl3Cells::Fast, "texture fast");
    expectSameAsReference(pixels, Dl3Cells::Slow, "texture slow");
  }
}

std::vector<int> entry(const Dl3Result& r, uint32_t k) {
  return {r.palette[k * 4], r.palette[k * 4 + 1], r.palette[k * 4 + 2], r.palette[k * 4 + 3]};
}

bool hasEntry(const Dl3Result& r, std::vector<int> colour) {
  colour.push_back(255);
  for (uint32_t k = 0; k < r.n; ++k)
    if (entry(r, k) == colour) return true;
  return false;
}

TEST(Dl3, ExactlyTwoHundredFiftySixCellsAreTheirRoundedMeansInCellOrder) {
  // 4 x 8 x 8 five-bit cells, three pixels each with channel offsets chosen so that the
  // rounding of the mean matters; the pixels are shuffled, the entries follow cell order.
  const int offsets[3][3] = {{1, 2, 6}, {0, 0, 1}, {5, 6, 6}};
  Pixels pixels;
  std::vector<std::vector<int>> expected;
  for (int a = 0; a < 4; ++a)
    for (int b = 0; b < 8; ++b)
      for (int c = 0; c < 8; ++c) {
        const int base[3] = {a * 64 + 8, b * 32, c * 32 + 16};
        std::vector<int> mean;
        for (int ch = 0; ch < 3; ++ch) {
          const int sum = 3 * base[ch] + offsets[ch][0] + offsets[ch][1] + offsets[ch][2];
          mean.push_back((sum + 1) / 3);
        }
        mean.push_back(255);
        expected.push_back(mean);
        for (int k = 0; k < 3; ++k) {
          pixels.resize(pixels.size() + 4);
          testing::putPixel(pixels, pixels.size() / 4 - 1, base[0] + offsets[0][k], base[1] + offsets[1][k],
                            base[2] + offsets[2][k]);
        }
      }
  std::mt19937 rng(4);
  for (size_t p = pixels.size() / 4 - 1; p > 0; --p) {
    const size_t q = rng() % (p + 1);
    for (int c = 0; c < 4; ++c) std::swap(pixels[p * 4 + c], pixels[q * 4 + c]);
  }
  const Dl3Result r = runDl3(pixels, Dl3Cells::Fast);
  ASSERT_EQ(r.n, 256u);
  for (uint32_t k = 0; k < 256; ++k) ASSERT_EQ(entry(r, k), expected[k]) << k;
}

TEST(Dl3, OneColourGivesOneEntryAndFewColoursTheirCount) {
  for (Dl3Cells cells : {Dl3Cells::Fast, Dl3Cells::Slow}) {
    Dl3Result r = runDl3(testing::solidPixels(500, 7, 77, 177), cells);
    ASSERT_EQ(r.n, 1u);
    EXPECT_EQ(entry(r, 0), (std::vector<int>{7, 77, 177, 255}));
    EXPECT_EQ(r.palette[4], 0xA5);  // nothing beyond the cells is written

    Pixels ten;
    for (int k = 0; k < 10; ++k) {
      ten.resize(ten.size() + 4 * (k + 1), 0);
      for (int rep = 0; rep <= k; ++rep) testing::putPixel(ten, ten.size() / 4 - 1 - rep, k * 25, 255 - k * 25, 128);
    }
    r = runDl3(ten, cells);
    EXPECT_EQ(r.n, 10u);
  }
}

TEST(Dl3, EqualLeastCostsMergeTheLowerCellFirst) {
  // 253 single pixels on a lattice of spacing 40 (cheapest merge: cost 40), plus two pairs
  // of single pixels 8 apart in neighbouring cells (cost 8 each, exactly equal): 257
  // cells, one merge. The pair whose lower cell comes first in cell order merges.
  Pixels pixels;
  auto add = [&pixels](int c0, int c1, int c2) {
    pixels.resize(pixels.size() + 4);
    testing::putPixel(pixels, pixels.size() / 4 - 1, c0, c1, c2);
  };
  int singles = 0;
  for (int a = 0; a < 7 && singles < 253; ++a)
    for (int b = 0; b < 7 && singles < 253; ++b)
      for (int c = 0; c < 7 && singles < 253; ++c, ++singles) add(a * 40, b * 40, c * 40);
  add(100, 20, 20);
  add(108, 20, 20);
  add(20, 20, 20);
  add(28, 20, 20);
  for (Dl3Cells cells : {Dl3Cells::Fast, Dl3Cells::Slow}) {
    const Dl3Result r = runDl3(pixels, cells);
    ASSERT_EQ(r.n, 256u);
    EXPECT_TRUE(hasEntry(r, {24, 20, 20}));
    EXPECT_FALSE(hasEntry(r, {20, 20, 20}));
    EXPECT_FALSE(hasEntry(r, {28, 20, 20}));
    EXPECT_TRUE(hasEntry(r, {100, 20, 20}));
    EXPECT_TRUE(hasEntry(r, {108, 20, 20}));
    EXPECT_TRUE(hasEntry(r, {0, 0, 0}));
    EXPECT_TRUE(hasEntry(r, {160, 240, 240}));
    EXPECT_TRUE(r.palette == runReference(pixels, cells).palette);
  }
}

TEST(Dl3, FastAndSlowCellsDiffer) {
  // (0, 0, 0) and (4, 0, 0) share a five-bit cell but not a six-bit one.
  Pixels two = testing::solidPixels(6, 0, 0, 0);
  for (int p = 0; p < 3; ++p) testing::putPixel(two, p, 4, 0, 0);
  Dl3Result fast = runDl3(two, Dl3Cells::Fast);
  Dl3Result slow = runDl3(two, Dl3Cells::Slow);
  ASSERT_EQ(fast.n, 1u);
  EXPECT_EQ(entry(fast, 0), (std::vector<int>{2, 0, 0, 255}));
  ASSERT_EQ(slow.n, 2u);
  EXPECT_EQ(entry(slow, 0), (std::vector<int>{0, 0, 0, 255}));
  EXPECT_EQ(entry(slow, 1), (std::vector<int>{4, 0, 0, 255}));

  const Pixels texture = testing::texturePixels(64, 64, 3);
  fast = runDl3(texture, Dl3Cells::Fast);
  slow = runDl3(texture, Dl3Cells::Slow);
  ASSERT_EQ(fast.n, 256u);
  ASSERT_EQ(slow.n, 256u);
  EXPECT_NE(fast.palette, slow.palette);
}

TEST(Dl3, CellSumsDoNotOverflowOnHugeImages) {
  // 255 x 16843010 exceeds 2^32: a 32-bit channel sum would wrap and give a dark mean.
  const Pixels pixels = testing::solidPixels(16843010, 255, 254, 1);
  const Dl3Result r = runDl3(pixels, Dl3Cells::Fast);
  ASSERT_EQ(r.n, 1u);
  EXPECT_EQ(entry(r, 0), (std::vector<int>{255, 254, 1, 255}));
}

TEST(Dl3, AlphaTakesNoPart) {
  Pixels a = testing::clusterPixels(3000, 21);
  Pixels b = a;
  for (size_t p = 3; p < b.size(); p += 4) b[p] = uint8_t(b[p] ^ 0x5A);
  EXPECT_EQ(runDl3(a, Dl3Cells::Fast).palette, runDl3(b, Dl3Cells::Fast).palette);
}

TEST(Dl3, ReturnsZeroAndLeavesThePaletteWhenItCannotWork) {
  const Pixels pixels = testing::clusterPixels(1000, 2);
  std::vector<uint8_t> palette(1024, 0xA5);
  EXPECT_EQ(dl3Palette(pixels.data(), pixels.size() / 4, palette.data(), Dl3Cells(7)), 0u);
  EXPECT_EQ(dl3Palette(nullptr, 100, palette.data(), Dl3Cells::Fast), 0u);
  EXPECT_EQ(dl3Palette(pixels.data(), 0, palette.data(), Dl3Cells::Slow), 0u);
  EXPECT_EQ(palette, std::vector<uint8_t>(1024, 0xA5));
}

// The pruning of the fast search rests on mergeBound never exceeding the float cost: try it
// on random cells from one pixel to billions, near and far, in both roles.
TEST(Dl3Bound, NeverExceedsTheMergeCost) {
  std::mt19937_64 rng(17);
  auto floatBelow = [](uint64_t v) {
    float f = float(v);
    if (double(f) > double(v)) f = std::nextafter(f, 0.0f);
    return f;
  };
  auto randomCell = [&rng](const dl3::Cell* near) {
    dl3::Cell cell{};
    const int bits = int(rng() % 33);
    cell.count = 1 + (rng() & ((uint64_t(1) << bits) - 1));
    for (int c = 0; c < 3; ++c) {
      double mean = near != nullptr ? near->mean[c] + double(int(rng() % 41) - 20) * (rng() % 2 ? 0.25 : 1.0)
                                    : double(rng() % 25600) / 100.0;
      mean = std::min(255.0, std::max(0.0, mean));
      cell.sum[c] = std::min<uint64_t>(uint64_t(mean * double(cell.count) + 0.5), 255 * cell.count);
    }
    dl3::updateMean(&cell);
    return cell;
  };
  for (int trial = 0; trial < 300000; ++trial) {
    const dl3::Cell a = randomCell(nullptr);
    const dl3::Cell b = randomCell(trial % 2 ? &a : nullptr);
    const float distance = std::sqrt(float(dl3::squaredMeanDistance(a, b)));
    const float cost = dl3::mergeCost(a, b);
    const float ab = dl3::mergeBound(floatBelow(a.count), floatBelow(b.count), distance) * float(dl3::kBoundSlack);
    const float ba = dl3::mergeBound(floatBelow(b.count), floatBelow(a.count), distance) * float(dl3::kBoundSlack);
    ASSERT_LE(ab, cost) << a.count << " " << b.count << " " << distance;
    ASSERT_LE(ba, cost) << a.count << " " << b.count << " " << distance;
  }
}

}  // namespace
}  // namespace vellum
