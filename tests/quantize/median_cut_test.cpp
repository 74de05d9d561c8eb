#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "quantize/linear_light_table.h"
#include "quantize/median_cut.h"
#include "quantize/median_cut_colour.h"
#include "quantize/median_cut_internal.h"
#include "test_images.h"

namespace vellum {
namespace {

using testing::Pixels;

// The median cut written plainly from its description: a histogram pass over all pixels
// per split, records of 256 boxes, a first-box lookup per pixel at the end.
namespace reference {

float lin(int v) { return kLinearLight[v]; }

float f(float t) {
  if (t <= 0.008856452f) return 7.787037f * t + 0.137931f;
  float x, k;
  if (t < 0.015625f) {
    x = 64 * t;
    k = 0.25f;
  } else if (t < 0.125f) {
    x = 8 * t;
    k = 0.5f;
  } else {
    x = t;
    k = 1;
  }
  return k * ((0.24379f * x + 0.958f) * x + 0.07892f) / (x + 0.27962f);
}

float deltaE(int p0, int p1, int p2, int q0, int q1, int q2) {
  auto xyz = [](int c0, int c1, int c2, float* X, float* Y, float* Z) {
    float r = lin(c0), g = lin(c1), b = lin(c2);
    *X = 0.4339528f * r + 0.3762194f * g + 0.1898278f * b;
    *Y = 0.212671f * r + 0.71516f * g + 0.072169f * b;
    *Z = 0.0177579f * r + 0.1094765f * g + 0.8727656f * b;
  };
  float Xp, Yp, Zp, Xq, Yq, Zq;
  xyz(p0, p1, p2, &Xp, &Yp, &Zp);
  xyz(q0, q1, q2, &Xq, &Yq, &Zq);
  float dL = 116 * (f(Yp) - f(Yq));
  float da = 500 * ((f(Xp) - f(Yp)) - (f(Xq) - f(Yq)));
  float db = 200 * ((f(Yp) - f(Zp)) - (f(Yq) - f(Zq)));
  return std::sqrt(dL * dL + da * da + db * db);
}

struct Box {
  int min[3], max[3];
  int axis;
  uint64_t count;
  float score;
};

void score(Box& b) {
  int mid[3];
  for (int c = 0; c < 3; ++c) mid[c] = (b.min[c] + b.max[c]) >> 1;
  float d0 = b.min[0] != b.max[0] ? deltaE(b.min[0], mid[1], mid[2], b.max[0], mid[1], mid[2]) : 0;
  float d1 = b.min[1] != b.max[1] ? deltaE(mid[0], b.min[1], mid[2], mid[0], b.max[1], mid[2]) : 0;
  float d2 = b.min[2] != b.max[2] ? deltaE(mid[0], mid[1], b.min[2], mid[0], mid[1], b.max[2]) : 0;
  float d = d0;
  b.axis = 0;
  if (d1 > d) {
    b.axis = 1;
    d = d1;
  }
  if (d2 > d) {
    b.axis = 2;
    d = d2;
  }
  b.score = d * float(b.count);
}

uint32_t medianCut(const Pixels& pixels, uint8_t palette[1024]) {
  const uint64_t count = pixels.size() / 4;
  std::vector<Box> boxes(256);
  Box& b0 = boxes[0];
  for (int c = 0; c < 3; ++c) {
    b0.min[c] = 255;
    b0.max[c] = 0;
  }
  for (uint64_t p = 0; p < count; ++p)
    for (int c = 0; c < 3; ++c) {
      b0.min[c] = std::min<int>(b0.min[c], pixels[p * 4 + c]);
      b0.max[c] = std::max<int>(b0.max[c], pixels[p * 4 + c]);
    }
  b0.count = count;
  score(b0);
  auto in = [&](const Box& b, uint64_t p) {
    for (int c = 0; c < 3; ++c)
      if (pixels[p * 4 + c] < b.min[c] || pixels[p * 4 + c] > b.max[c]) return false;
    return true;
  };
  uint32_t n = 1;
  while (n < 256) {
    uint32_t best = 0;
    for (uint32_t k = 1; k < n; ++k)
      if (boxes[k].score > boxes[best].score) best = k;
    Box& box = boxes[best];
    if (box.score == 0) break;
    const int axis = box.axis;
    const int A = axis == 0 ? 2 : 0, B = axis == 1 ? 2 : 1;
    std::vector<uint64_t> hc(256, 0);
    std::vector<int> minA(256, 255), maxA(256, 0), minB(256, 255), maxB(256, 0);
    for (uint64_t p = 0; p < count; ++p) {
      if (!in(box, p)) continue;
      int v = pixels[p * 4 + axis], a = pixels[p * 4 + A], bb = pixels[p * 4 + B];
      ++hc[v];
      minA[v] = std::min(minA[v], a);
      maxA[v] = std::max(maxA[v], a);
      minB[v] = std::min(minB[v], bb);
      maxB[v] = std::max(maxB[v], bb);
    }
    const int lo = box.min[axis], hi = box.max[axis];
    uint64_t left = 0, right = box.count;
    int s = hi - 1;
    int v = lo;
    for (; v < hi; ++v) {
      uint64_t c = hc[v];
      if (right > left + c) {
        left += c;
        right -= c;
        continue;
      }
      if (right == left + c && c > 0 && (hi - v) > (v - lo)) {
        left += c;
        right -= c;
        s = v;
      } else {
        s = v - 1;
      }
      break;
    }
    int r = s + 1;
    while (r < hi && hc[r] == 0) ++r;
    while (s > lo && hc[s] == 0) --s;
    auto other = [&](Box& part, int from, int to) {
      part.min[A] = part.min[B] = 255;
      part.max[A] = part.max[B] = 0;
      for (int w = from; w <= to; ++w) {
        part.min[A] = std::min(part.min[A], minA[w]);
        part.max[A] = std::max(part.max[A], maxA[w]);
        part.min[B] = std::min(part.min[B], minB[w]);
        part.max[B] = std::max(part.max[B], maxB[w]);
      }
    };
    Box& nb = boxes[n];
    nb = box;
    nb.min[axis] = lo;
    nb.max[axis] = s;
    nb.count = left;
    other(nb, lo, s);
    box.min[axis] = r;
    box.max[axis] = hi;
    box.count = right;
    other(box, r, hi);
    score(box);
    score(nb);
    ++n;
  }
  std::vector<uint64_t> sums(n * 3, 0);
  for (uint64_t p = 0; p < count; ++p)
    for (uint32_t k = 0; k < n; ++k)
      if (in(boxes[k], p)) {
        for (int c = 0; c < 3; ++c) sums[k * 3 + c] += pixels[p * 4 + c];
        break;
      }
  for (uint32_t k = 0; k < n; ++k) {
    for (int c = 0; c < 3; ++c) palette[k * 4 + c] = uint8_t((sums[k * 3 + c] + boxes[k].count / 2) / boxes[k].count);
    palette[k * 4 + 3] = 255;
  }
  return n;
}

}  // namespace reference

struct Result {
  uint32_t n;
  std::vector<uint8_t> palette;
  bool operator==(const Result& o) const { return n == o.n && palette == o.palette; }
};

Result run(uint32_t (*build)(uint8_t*, const uint8_t*, uint64_t), const Pixels& pixels) {
  Result r{0, std::vector<uint8_t>(1024, 0xA5)};
  r.n = build(r.palette.data(), pixels.data(), pixels.size() / 4);
  return r;
}

Result runReference(const Pixels& pixels) {
  Result r{0, std::vector<uint8_t>(1024, 0xA5)};
  r.n = reference::medianCut(pixels, r.palette.data());
  return r;
}

std::vector<int> entry(const Result& r, uint32_t k) {
  return {r.palette[k * 4], r.palette[k * 4 + 1], r.palette[k * 4 + 2], r.palette[k * 4 + 3]};
}

void expectBothWaysMatchTheReference(const Pixels& pixels, const std::string& what) {
  const Result want = runReference(pixels);
  EXPECT_TRUE(run(medianCutPalette, pixels) == want) << what;
  EXPECT_TRUE(run(mediancut::medianCutByPartition, pixels) == want) << what;
  EXPECT_TRUE(run(mediancut::medianCutByScanning, pixels) == want) << what;
}

TEST(MedianCutDifferential, PartitionedAndScanningRunsMatchThePlainProcedure) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    expectBothWaysMatchTheReference(testing::noisePixels(3000 + seed * 100, seed), "noise " + std::to_string(seed));
    expectBothWaysMatchTheReference(testing::clusterPixels(4000, seed * 3, 2 + int(seed)),
                                    "clusters " + std::to_string(seed));
  }
  expectBothWaysMatchTheReference(testing::texturePixels(64, 64, 2), "texture");
  expectBothWaysMatchTheReference(testing::gradientPixels(50, 40, 5, 6, 17), "gradient");
  expectBothWaysMatchTheReference(testing::latticePixels(7, 40, 5, 1), "lattice");
  expectBothWaysMatchTheReference(testing::solidPixels(10, 1, 2, 3), "one colour");
}

TEST(MedianCut, OneColourGivesOneEntry) {
  const Result r = run(medianCutPalette, testing::solidPixels(100, 12, 34, 56));
  ASSERT_EQ(r.n, 1u);
  EXPECT_EQ(entry(r, 0), (std::vector<int>{12, 34, 56, 255}));
  EXPECT_EQ(r.palette[4], 0xA5);  // nothing beyond the boxes is written
}

TEST(MedianCut, TwoColoursApartInByteOneSplitOnceOnThatAxis) {
  Pixels pixels = testing::solidPixels(8, 10, 20, 30);
  for (int p : {1, 3, 4, 6, 7}) testing::putPixel(pixels, p, 10, 200, 30);
  const Result r = run(medianCutPalette, pixels);
  ASSERT_EQ(r.n, 2u);
  // The box keeps the upper part; the new box 1 takes the lower.
  EXPECT_EQ(entry(r, 0), (std::vector<int>{10, 200, 30, 255}));
  EXPECT_EQ(entry(r, 1), (std::vector<int>{10, 20, 30, 255}));
}

TEST(MedianCut, MedianOfTwoEqualHalves) {
  // Values 10, 10, 20, 20: 10 moves left; at 11 (count 0) the tie does not move, so s = 10
  // and the upper part starts at 20.
  Pixels pixels(16);
  const int values[] = {20, 10, 20, 10};
  for (int p = 0; p < 4; ++p) testing::putPixel(pixels, p, values[p], 77, 77);
  const Result r = run(medianCutPalette, pixels);
  ASSERT_EQ(r.n, 2u);
  EXPECT_EQ(entry(r, 0), (std::vector<int>{20, 77, 77, 255}));
  EXPECT_EQ(entry(r, 1), (std::vector<int>{10, 77, 77, 255}));
}

TEST(MedianCut, TiedMedianJoinsTheLeftOnlyInTheLowerHalf) {
  auto pixelsOf = [](std::vector<int> values) {
    Pixels pixels(values.size() * 4);
    for (size_t p = 0; p < values.size(); ++p) testing::putPixel(pixels, p, 40, 40, values[p]);
    return pixels;
  };
  // 0, 5, 9 twice each: at 5 the tie would balance, but 9 - 5 <= 5 - 0, so s = 4, moved
  // down to 0; the lower box holds 0 alone. The upper box (5..9) then splits into 9 and 5.
  Result r = run(medianCutPalette, pixelsOf({9, 0, 5, 0, 9, 5}));
  ASSERT_EQ(r.n, 3u);
  EXPECT_EQ(entry(r, 0)[2], 9);
  EXPECT_EQ(entry(r, 1)[2], 0);
  EXPECT_EQ(entry(r, 2)[2], 5);
  // 0, 4, 9 twice each: at 4, 9 - 4 > 4 - 0, so 4 joins the lower part (0..4), which then
  // splits into 4 (staying in box 1) and 0 (box 2).
  r = run(medianCutPalette, pixelsOf({4, 9, 0, 9, 0, 4}));
  ASSERT_EQ(r.n, 3u);
  EXPECT_EQ(entry(r, 0)[2], 9);
  EXPECT_EQ(entry(r, 1)[2], 4);
  EXPECT_EQ(entry(r, 2)[2], 0);
}

TEST(MedianCut, StopsWhenEveryBoxIsOneColour) {
  std::mt19937 rng(3);
  std::set<std::vector<int>> colours;
  Pixels pixels;
  while (colours.size() < 40) {
    std::vector<int> c = {int(rng() % 256), int(rng() % 256), int(rng() % 256), 255};
    if (!colours.insert(c).second) continue;
    for (uint32_t k = 0; k < 1 + rng() % 5; ++k) {
      pixels.resize(pixels.size() + 4);
      testing::putPixel(pixels, pixels.size() / 4 - 1, c[0], c[1], c[2]);
    }
  }
  const Result r = run(medianCutPalette, pixels);
  ASSERT_EQ(r.n, 40u);
  std::set<std::vector<int>> got;
  for (uint32_t k = 0; k < r.n; ++k) got.insert(entry(r, k));
  EXPECT_EQ(got, colours);
}

TEST(MedianCut, BoxSumsDoNotOverflowOnHugeImages) {
  // 255 x 16843010 exceeds 2^32: a 32-bit channel sum would wrap and give a dark mean.
  const uint64_t count = 16843010;
  const Pixels pixels = testing::solidPixels(count, 255, 254, 1);
  for (auto build : {medianCutPalette, mediancut::medianCutByScanning}) {
    const Result r = run(build, pixels);
    ASSERT_EQ(r.n, 1u);
    EXPECT_EQ(entry(r, 0), (std::vector<int>{255, 254, 1, 255}));
  }
}

TEST(MedianCut, AlphaTakesNoPartAndNoPixelsGiveNoEntries) {
  Pixels a = testing::clusterPixels(2000, 5);
  Pixels b = a;
  for (size_t p = 3; p < b.size(); p += 4) b[p] = uint8_t(~b[p]);
  EXPECT_TRUE(run(medianCutPalette, a) == run(medianCutPalette, b));
  std::vector<uint8_t> palette(1024, 0xA5);
  EXPECT_EQ(medianCutPalette(palette.data(), nullptr, 0), 0u);
  EXPECT_EQ(medianCutPalette(palette.data(), a.data(), 0), 0u);
  EXPECT_EQ(palette, std::vector<uint8_t>(1024, 0xA5));
}

TEST(MedianCutColour, LinearLightTableIsTheSrgbCurve) {
  // Each entry is the exact value rounded once to float; a double evaluation rounded to
  // float may differ from it by at most one unit in the last place.
  for (int v = 0; v < 256; ++v) {
    const double t = v / 255.0;
    const double exact = t > 0.04045 ? std::pow((t + 0.055) / 1.055, 2.4) : t * 0.0774;
    const float approx = float(exact);
    EXPECT_LE(std::fabs(kLinearLight[v] - approx), std::nextafter(approx, 2.0f) - approx) << v;
  }
  EXPECT_EQ(kLinearLight[0], 0.0f);
  EXPECT_EQ(kLinearLight[255], 1.0f);
}

TEST(MedianCutColour, DifferenceApproximatesCie76) {
  // CIE76 with exact cube roots in double precision, byte 0 as red: the rational cube root
  // keeps the difference within 12 % of (difference + 1) over far and near pairs (the
  // worst case seen is 9 %); swapped channel roles or a wrong constant fall far outside.
  auto lab = [](const uint8_t c[3], double out[3]) {
    auto lin = [](int v) {
      double t = v / 255.0;
      return t > 0.04045 ? std::pow((t + 0.055) / 1.055, 2.4) : t * 0.0774;
    };
    const double r = lin(c[0]), g = lin(c[1]), b = lin(c[2]);
    const double x = 0.4339528 * r + 0.3762194 * g + 0.1898278 * b;
    const double y = 0.212671 * r + 0.71516 * g + 0.072169 * b;
    const double z = 0.0177579 * r + 0.1094765 * g + 0.8727656 * b;
    auto f = [](double t) { return t > 0.008856452 ? std::cbrt(t) : 7.787037 * t + 16.0 / 116.0; };
    out[0] = 116 * f(y) - 16;
    out[1] = 500 * (f(x) - f(y));
    out[2] = 200 * (f(y) - f(z));
  };
  std::mt19937 rng(9);
  for (int trial = 0; trial < 20000; ++trial) {
    uint8_t p[3], q[3];
    for (int c = 0; c < 3; ++c) {
      p[c] = uint8_t(rng());
      // Every other pair is close: the splits measure box extents of any size.
      q[c] = trial % 2 ? uint8_t(rng()) : uint8_t(std::clamp(int(p[c]) + int(rng() % 9) - 4, 0, 255));
    }
    double lp[3], lq[3];
    lab(p, lp);
    lab(q, lq);
    const double want = std::sqrt((lp[0] - lq[0]) * (lp[0] - lq[0]) + (lp[1] - lq[1]) * (lp[1] - lq[1]) +
                                  (lp[2] - lq[2]) * (lp[2] - lq[2]));
    const float got = mediancut::colourDifference(p, q);
    ASSERT_NEAR(got, want, 0.12 * (want + 1.0)) << int(p[0]) << "," << int(p[1]) << "," << int(p[2]) << " / "
                                               << int(q[0]) << "," << int(q[1]) << "," << int(q[2]);
    EXPECT_EQ(got, mediancut::colourDifference(q, p));
  }
  const uint8_t grey[3] = {128, 128, 128};
  EXPECT_EQ(mediancut::colourDifference(grey, grey), 0.0f);
}

TEST(MedianCutColour, LargestDifferenceChoosesTheAxisLowerAxisOnTies) {
  mediancut::Box box{{10, 10, 10}, {10, 10, 10}, 9, 5, 1.0f};
  mediancut::scoreBox(&box);
  EXPECT_EQ(box.axis, 0);  // all extents 0: the tie keeps axis 0
  EXPECT_EQ(box.score, 0.0f);

  box = mediancut::Box{{0, 100, 100}, {0, 100, 200}, 0, 3, 0.0f};
  mediancut::scoreBox(&box);
  EXPECT_EQ(box.axis, 2);
  const uint8_t lo[3] = {0, 100, 100}, hi[3] = {0, 100, 200};
  EXPECT_EQ(box.score, mediancut::colourDifference(lo, hi) * 3.0f);

  // The mid-point of the other axes is (min + max) >> 1.
  box = mediancut::Box{{0, 0, 0}, {255, 3, 1}, 0, 1, 0.0f};
  mediancut::scoreBox(&box);
  const uint8_t from[3] = {0, 1, 0}, to[3] = {255, 1, 0};
  EXPECT_EQ(box.axis, 0);
  EXPECT_EQ(box.score, mediancut::colourDifference(from, to));
}

}  // namespace
}  // namespace vellum
