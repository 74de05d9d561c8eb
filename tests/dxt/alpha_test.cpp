// The DXT5 alpha encoder: the worked cases, and byte-for-byte agreement with the plain
// exhaustive search over more than 100 000 blocks of every shape.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "dxt/alpha_blocks.h"
#include "dxt/alpha_reference.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

using testing::AlphaCase;
using testing::AlphaFamily;

void setAlphas(uint8_t pixels[64], const int alpha[16]) {
  for (int k = 0; k < 16; ++k) {
    pixels[4 * k + 0] = uint8_t(17 * k);
    pixels[4 * k + 1] = uint8_t(255 - 9 * k);
    pixels[4 * k + 2] = uint8_t(40 + k);
    pixels[4 * k + 3] = uint8_t(alpha[k]);
  }
}

uint32_t indexOf(const uint8_t block[8], int k) {
  uint64_t bits = 0;
  for (int b = 0; b < 6; ++b) bits |= uint64_t(block[2 + b]) << (8 * b);
  return uint32_t(bits >> (3 * k)) & 7;
}

TEST(AlphaBlockDxt5, FullyOpaqueBlockIs255And247WithAllIndicesZero) {
  int alpha[16];
  for (int& a : alpha) a = 255;
  uint8_t pixels[64], out[8];
  setAlphas(pixels, alpha);
  compressAlphaBlockDxt5(pixels, 0xFFFF, out);
  const uint8_t expected[8] = {255, 247, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
}

TEST(AlphaBlockDxt5, ZeroAnd255BlockUsesEqualEndpointsZeroAndTheFixedLevels) {
  // Pixel 0 at 0, a scattering of 255s: the eight-level search is skipped and the six-level
  // search starts at lo0 = hi0 = 0, where the table 0, 0, 0, 0, 0, 0, 0, 255 fits exactly.
  const int alpha[16] = {0, 255, 255, 0, 0, 0, 255, 0, 255, 255, 0, 0, 0, 255, 0, 255};
  uint8_t pixels[64], out[8];
  setAlphas(pixels, alpha);
  compressAlphaBlockDxt5(pixels, 0xFFFF, out);
  EXPECT_EQ(0, out[0]);
  EXPECT_EQ(0, out[1]);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(alpha[k] ? 7u : 0u, indexOf(out, k)) << "pixel " << k;
}

TEST(AlphaBlockDxt5, PixelsOutsideTheMaskGetIndexZeroAndDoNotSteerTheEndpoints) {
  // The right column of a 5-wide level's edge block: only pixels 0, 4, 8, 12 are inside.
  const uint32_t mask = 0x1111;
  int alpha[16];
  for (int k = 0; k < 16; ++k) alpha[k] = (k % 4 == 0) ? 60 + 10 * (k / 4) : 250 - k;
  uint8_t pixels[64], out[8], again[8];
  setAlphas(pixels, alpha);
  compressAlphaBlockDxt5(pixels, mask, out);
  for (int k = 0; k < 16; ++k) {
    if (!((mask >> k) & 1)) {
      EXPECT_EQ(0u, indexOf(out, k)) << "pixel " << k;
    }
  }
  // Whatever the pixels outside hold, the block is the same.
  for (int k = 0; k < 16; ++k)
    if (!((mask >> k) & 1)) pixels[4 * k + 3] = uint8_t(k * 13);
  compressAlphaBlockDxt5(pixels, mask, again);
  EXPECT_EQ(0, std::memcmp(out, again, 8));
  // And the endpoints are those the plain search finds from the four samples alone.
  uint8_t expected[8];
  testing::referenceAlphaBlockDxt5(pixels, mask, expected);
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
}

TEST(AlphaBlockDxt5, EqualEndpointsFromTheEightLevelSearchUseTheSixLevelTable) {
  // All samples 0: the first eight-level pair (0, 0) has error 0. Its endpoints are equal,
  // so the decoder reads the six-level table 0, 0, 0, 0, 0, 0, 0, 255 and every index is 0.
  int alpha[16] = {0};
  uint8_t pixels[64], out[8];
  setAlphas(pixels, alpha);
  compressAlphaBlockDxt5(pixels, 0xFFFF, out);
  const uint8_t expected[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
}

TEST(AlphaBlockDxt5, SinglePixelMaskRepeatsPixelZero) {
  int alpha[16];
  for (int k = 0; k < 16; ++k) alpha[k] = 200 - 7 * k;
  uint8_t pixels[64], out[8], expected[8];
  setAlphas(pixels, alpha);
  compressAlphaBlockDxt5(pixels, 0x0001, out);
  testing::referenceAlphaBlockDxt5(pixels, 0x0001, expected);
  EXPECT_EQ(0, std::memcmp(out, expected, 8));
  for (int k = 1; k < 16; ++k) EXPECT_EQ(0u, indexOf(out, k));
}

// Agreement with the plain search, one family per test so that the suite runs in parallel.
void expectSameAsReference(AlphaFamily family, int blocks, uint32_t seed) {
  std::mt19937 rng(seed);
  int mismatches = 0;
  for (int n = 0; n < blocks; ++n) {
    const AlphaCase c = testing::makeAlphaCase(family, rng);
    uint8_t ours[8], reference[8];
    compressAlphaBlockDxt5(c.pixels, c.mask, ours);
    testing::referenceAlphaBlockDxt5(c.pixels, c.mask, reference);
    if (std::memcmp(ours, reference, 8) != 0 && ++mismatches <= 5) {
      ADD_FAILURE() << "block " << n << " mask " << std::hex << c.mask << std::dec << ": endpoints " << int(ours[0])
                    << "/" << int(ours[1]) << ", reference " << int(reference[0]) << "/" << int(reference[1]);
    }
  }
  EXPECT_EQ(0, mismatches);
}

// 104 000 blocks in all; the families that keep the plain search longest are split in two
// so that the suite spreads them over both cores.
TEST(AlphaBlockDxt5AgainstReference, UniformValues) { expectSameAsReference(AlphaFamily::Uniform, 26000, 1); }
TEST(AlphaBlockDxt5AgainstReference, ValuesNearZeroAnd255) { expectSameAsReference(AlphaFamily::NearExtremes, 26000, 2); }
TEST(AlphaBlockDxt5AgainstReference, OnlyZeroAnd255) { expectSameAsReference(AlphaFamily::Binary, 12000, 3); }
TEST(AlphaBlockDxt5AgainstReference, FewDistinctValues) { expectSameAsReference(AlphaFamily::FewValues, 12000, 4); }
TEST(AlphaBlockDxt5AgainstReference, NarrowSpansA) { expectSameAsReference(AlphaFamily::NarrowSpan, 7000, 5); }
TEST(AlphaBlockDxt5AgainstReference, NarrowSpansB) { expectSameAsReference(AlphaFamily::NarrowSpan, 7000, 6); }
TEST(AlphaBlockDxt5AgainstReference, GradientsA) { expectSameAsReference(AlphaFamily::Gradient, 7000, 7); }
TEST(AlphaBlockDxt5AgainstReference, GradientsB) { expectSameAsReference(AlphaFamily::Gradient, 7000, 8); }

TEST(AlphaBlockDxt5AgainstReference, EveryConstantBlockAndTwoValueStepsAtTheStartRuleCorners) {
  // All 256 flat blocks, and from every value a step to a second value (half the block
  // each) at the distances where the start rules change: mn + 24 > mx, mx < mn + 32 (and
  // the six-level 24 and 34), the parity p, and mx < 16 near the bottom.
  const int steps[] = {1, 2, 3, 5, 6, 7, 8, 9, 15, 16, 17, 18, 23, 24, 25, 31, 32, 33, 34, 35, 64, 255};
  int mismatches = 0, blocks = 0;
  uint8_t pixels[64], ours[8], reference[8];
  auto check = [&](int a, int b) {
    int alpha[16];
    for (int k = 0; k < 16; ++k) alpha[k] = k < 8 ? a : b;
    setAlphas(pixels, alpha);
    compressAlphaBlockDxt5(pixels, 0xFFFF, ours);
    testing::referenceAlphaBlockDxt5(pixels, 0xFFFF, reference);
    ++blocks;
    if (std::memcmp(ours, reference, 8) != 0 && ++mismatches <= 5) ADD_FAILURE() << "values " << a << " and " << b;
  };
  for (int a = 0; a < 256; ++a) {
    check(a, a);
    for (int step : steps) {
      if (a + step <= 255) check(a, a + step);
      if (a - step >= 0) check(a, a - step);
    }
  }
  EXPECT_EQ(0, mismatches);
  EXPECT_GT(blocks, 8000);
}

}  // namespace
}  // namespace vellum
