// One DXT level: block layout, edge masks, output size, and no read outside the pixels.
#include <gtest/gtest.h>
#include <squish.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <vector>

#include "dxt/dxt_bands.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes randomPixels(uint32_t w, uint32_t h, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes p(size_t(w) * h * 4);
  for (auto& b : p) b = uint8_t(rng());
  return p;
}

uint32_t blockBytes(uint32_t alphaFlag) { return alphaFlag ? 16 : 8; }

// The block the compressor must produce for pixels gathered by hand: libsquish's colour
// half with `mask`, our alpha half with the same mask.
void expectedBlock(const uint8_t gathered[64], uint32_t mask, uint32_t alphaFlag, uint8_t* out) {
  if (alphaFlag) {
    squish::CompressMasked(gathered, int(mask), out, squish::kDxt5);
    compressAlphaBlockDxt5(gathered, mask, out);
  } else {
    squish::CompressMasked(gathered, int(mask), out, squish::kDxt1);
  }
}

class LevelLayout : public ::testing::TestWithParam<uint32_t> {};

TEST_P(LevelLayout, FourByFourLevelIsOneBlock) {
  const uint32_t alphaFlag = GetParam();
  Bytes pixels = randomPixels(4, 4, 11);
  Bytes out(64, 0xAB);
  compressDxtLevel(pixels.data(), out.data(), 4, 4, alphaFlag);
  uint8_t expected[16];
  expectedBlock(pixels.data(), 0xFFFF, alphaFlag, expected);
  EXPECT_EQ(0, std::memcmp(out.data(), expected, blockBytes(alphaFlag)));
  for (size_t i = blockBytes(alphaFlag); i < out.size(); ++i) ASSERT_EQ(0xAB, out[i]) << "byte " << i << " written";
}

TEST_P(LevelLayout, FiveByFiveLevelIsTwoByTwoBlocksWithEdgeMasks) {
  const uint32_t alphaFlag = GetParam();
  const uint32_t w = 5, h = 5;
  Bytes pixels = randomPixels(w, h, 12);
  Bytes out(128, 0xAB);
  compressDxtLevel(pixels.data(), out.data(), h, w, alphaFlag);
  // Block (bx, by): inside pixels copied by hand; the rest zero, which the mask must hide.
  const uint32_t masks[4] = {0xFFFF, 0x1111, 0x000F, 0x0001};
  for (uint32_t b = 0; b < 4; ++b) {
    const uint32_t bx = 4 * (b % 2), by = 4 * (b / 2);
    uint8_t gathered[64] = {0};
    for (uint32_t k = 0; k < 16; ++k) {
      uint32_t x = bx + k % 4, y = by + k / 4;
      if (x < w && y < h) std::memcpy(gathered + 4 * k, &pixels[(y * w + x) * 4], 4);
    }
    uint8_t expected[16];
    expectedBlock(gathered, masks[b], alphaFlag, expected);
    EXPECT_EQ(0, std::memcmp(&out[b * blockBytes(alphaFlag)], expected, blockBytes(alphaFlag))) << "block " << b;
  }
  for (size_t i = 4 * blockBytes(alphaFlag); i < out.size(); ++i) ASSERT_EQ(0xAB, out[i]) << "byte " << i << " written";
}

TEST_P(LevelLayout, OutputIsExactlyCeilWidthTimesCeilHeightBlocks) {
  const uint32_t alphaFlag = GetParam();
  const uint32_t sizes[][2] = {{1, 1}, {3, 5}, {5, 3}, {8, 8}, {9, 2}, {17, 13}, {2, 33}};
  for (const auto& size : sizes) {
    const uint32_t w = size[0], h = size[1];
    Bytes pixels = randomPixels(w, h, w * 100 + h);
    const size_t expectedSize = size_t((w + 3) / 4) * ((h + 3) / 4) * blockBytes(alphaFlag);
    Bytes out(expectedSize + 32, 0xAB);
    compressDxtLevel(pixels.data(), out.data(), h, w, alphaFlag);
    for (size_t i = expectedSize; i < out.size(); ++i) ASSERT_EQ(0xAB, out[i]) << w << "x" << h << " byte " << i;
    // The last block is a real block: written over the fill.
    bool lastWritten = false;
    for (size_t i = expectedSize - blockBytes(alphaFlag); i < expectedSize; ++i) lastWritten |= out[i] != 0xAB;
    EXPECT_TRUE(lastWritten) << w << "x" << h;
  }
}

TEST_P(LevelLayout, EmptyLevelsWriteNothing) {
  const uint32_t alphaFlag = GetParam();
  Bytes pixels = randomPixels(4, 4, 13);
  Bytes out(32, 0xAB);
  compressDxtLevel(pixels.data(), out.data(), 0, 4, alphaFlag);
  compressDxtLevel(pixels.data(), out.data(), 4, 0, alphaFlag);
  compressDxtRows(pixels.data(), out.data(), 0, 4, alphaFlag);
  for (uint8_t b : out) ASSERT_EQ(0xAB, b);
}

INSTANTIATE_TEST_SUITE_P(Dxt1AndDxt5, LevelLayout, ::testing::Values(0u, 1u),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return info.param ? std::string("Dxt5") : std::string("Dxt1");
                         });

TEST(EdgeMask, ColumnAndRowMasksCombine) {
  const uint32_t columns[5] = {0, 0x1111, 0x3333, 0x7777, 0xFFFF};
  const uint32_t rows[5] = {0, 0x000F, 0x00FF, 0x0FFF, 0xFFFF};
  for (uint32_t c = 1; c <= 6; ++c) {
    for (uint32_t r = 1; r <= 6; ++r) {
      uint32_t expected = columns[c < 4 ? c : 4] & rows[r < 4 ? r : 4];
      EXPECT_EQ(expected, dxtEdgeMask(c, r)) << c << " columns, " << r << " rows";
      // Bit k set exactly for the pixels inside.
      for (uint32_t k = 0; k < 16; ++k) EXPECT_EQ(k % 4 < c && k / 4 < r, ((expected >> k) & 1) != 0);
    }
  }
  EXPECT_EQ(0x0001u, dxtEdgeMask(1, 1));
  EXPECT_EQ(0u, dxtEdgeMask(0, 4));
  EXPECT_EQ(0u, dxtEdgeMask(4, 0));
}

TEST(EdgeMask, GatherFillsOutsidePixelsWithPixelZero) {
  Bytes pixels = randomPixels(6, 7, 14);
  uint8_t block[64];
  // Block at (4, 4) of a 6 x 7 band: 2 columns, 3 rows inside.
  const uint32_t mask = gatherDxtBlock(pixels.data(), 6, 7, 4, 4, block);
  EXPECT_EQ(0x3333u & 0x0FFFu, mask);
  for (uint32_t k = 0; k < 16; ++k) {
    const uint8_t* expected =
        ((mask >> k) & 1) ? &pixels[((4 + k / 4) * 6 + 4 + k % 4) * 4] : &pixels[(4 * 6 + 4) * 4];
    EXPECT_EQ(0, std::memcmp(block + 4 * k, expected, 4)) << "pixel " << k;
  }
  // A block that starts outside the band reads nothing.
  EXPECT_EQ(0u, gatherDxtBlock(pixels.data(), 6, 7, 8, 0, block));
  EXPECT_EQ(0u, gatherDxtBlock(pixels.data(), 6, 7, 0, 8, block));
}

// Pixels placed right against an inaccessible page: any read past the last pixel (or before
// the first) faults.
class GuardedPixels {
 public:
  GuardedPixels(const Bytes& pixels, bool againstEnd) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t dataPages = (pixels.size() + page - 1) / page;
    length_ = (dataPages + 2) * page;
    void* base = mmap(nullptr, length_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return;
    base_ = static_cast<uint8_t*>(base);
    mprotect(base_, page, PROT_NONE);
    mprotect(base_ + (dataPages + 1) * page, page, PROT_NONE);
    data_ = againstEnd ? base_ + (dataPages + 1) * page - pixels.size() : base_ + page;
    std::memcpy(data_, pixels.data(), pixels.size());
    mprotect(base_ + page, dataPages * page, PROT_READ);
  }
  ~GuardedPixels() {
    if (base_) munmap(base_, length_);
  }
  GuardedPixels(const GuardedPixels&) = delete;
  GuardedPixels& operator=(const GuardedPixels&) = delete;
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t length_ = 0;
};

TEST_P(LevelLayout, PartialBlocksNeverReadOutsideThePixels) {
  const uint32_t alphaFlag = GetParam();
  const uint32_t sizes[][2] = {{1, 1}, {5, 5}, {7, 3}, {3, 7}, {13, 9}, {1, 6}, {6, 1}, {1021, 3}};
  for (const auto& size : sizes) {
    const uint32_t w = size[0], h = size[1];
    Bytes pixels = randomPixels(w, h, w * 7 + h);
    const size_t outSize = size_t((w + 3) / 4) * ((h + 3) / 4) * blockBytes(alphaFlag);
    Bytes reference(outSize);
    compressDxtLevel(pixels.data(), reference.data(), h, w, alphaFlag);
    for (bool againstEnd : {true, false}) {
      GuardedPixels guarded(pixels, againstEnd);
      ASSERT_NE(nullptr, guarded.data());
      Bytes out(outSize);
      compressDxtLevel(guarded.data(), out.data(), h, w, alphaFlag);
      EXPECT_EQ(reference, out) << w << "x" << h;
    }
  }
}

TEST(Level, Dxt5ColourHalfIsLibsquishsAndAlphaHalfIsOurs) {
  // A level of several whole blocks: each block's bytes 8 to 15 equal libsquish's own DXT5
  // colour half and bytes 0 to 7 our alpha encoder's, block row 0 first.
  const uint32_t w = 12, h = 8;
  Bytes pixels = randomPixels(w, h, 15);
  Bytes out(size_t(3) * 2 * 16);
  compressDxtLevel(pixels.data(), out.data(), h, w, 1);
  for (uint32_t b = 0; b < 6; ++b) {
    uint8_t gathered[64];
    const uint32_t bx = 4 * (b % 3), by = 4 * (b / 3);
    for (uint32_t k = 0; k < 16; ++k) std::memcpy(gathered + 4 * k, &pixels[((by + k / 4) * w + bx + k % 4) * 4], 4);
    uint8_t squishBlock[16], alpha[8];
    squish::CompressMasked(gathered, 0xFFFF, squishBlock, squish::kDxt5);
    compressAlphaBlockDxt5(gathered, 0xFFFF, alpha);
    EXPECT_EQ(0, std::memcmp(&out[16 * b + 8], squishBlock + 8, 8)) << "block " << b;
    EXPECT_EQ(0, std::memcmp(&out[16 * b], alpha, 8)) << "block " << b;
  }
}

}  // namespace
}  // namespace vellum
