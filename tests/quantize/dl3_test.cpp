#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "quantize/dl3.h"
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
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const Pixels pixels = testing::noisePixels(300 + seed * 90, seed);
    expectSameAsReference(pixels, Dl3Cells::Fast, "noise fast");
    expectSameAsReference(pixels, Dl3Cells::Slow, "noise slow");
  }
}

TEST(Dl3Differential, ClusteredColoursMatchThePlainProcedure) {
  for (uint32_t seed = 1; seed <= 16; ++seed) {
    const Pixels pixels = testing::clusterPixels(1000 + seed * 60, seed * 7, 4 + int(seed % 13));
    expectSameAsReference(pixels, Dl3Cells::Fast, "clusters fast " + std::to_string(seed));
    expectSameAsReference(pixels, Dl3Cells::Slow, "clusters slow " + std::to_string(seed));
  }
}

TEST(Dl3Differential, SmallSweep) {
  for (uint32_t seed = 1; seed <= 60; ++seed) {
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

}  // namespace
}  // namespace vellum
