// What we write, read back: libsquish's decompressor and our reader's block decoder see
// the same pixels, and those pixels are close to the source.
#include <gtest/gtest.h>
#include <squish.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "bench/support/texture.h"
#include "core/dxt_decode.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kWidth = 258, kHeight = 130;  // partial blocks on the right and at the bottom

struct Decoded {
  Bytes ours, squish;  // kWidth x kHeight x 4, from decodeDxtBlock and squish::Decompress
  uint32_t disagreeingPixels = 0;
};

Decoded compressAndDecode(const Bytes& pixels, uint32_t alphaFlag, bool cutOut = false) {
  const uint32_t blocksWide = (kWidth + 3) / 4, blocksHigh = (kHeight + 3) / 4;
  const uint32_t blockSize = alphaFlag ? 16 : 8;
  Bytes level(size_t(blocksWide) * blocksHigh * blockSize);
  compressDxtLevel(pixels.data(), level.data(), kHeight, kWidth, alphaFlag);
  Decoded d;
  d.ours.assign(pixels.size(), 0);
  d.squish.assign(pixels.size(), 0);
  for (uint32_t by = 0; by < blocksHigh; ++by) {
    for (uint32_t bx = 0; bx < blocksWide; ++bx) {
      const uint8_t* block = &level[(size_t(by) * blocksWide + bx) * blockSize];
      uint8_t ours[64], theirs[64];
      decodeDxtBlock(block, alphaFlag ? DxtVariant::Dxt5 : cutOut ? DxtVariant::Dxt1Alpha : DxtVariant::Dxt1, ours);
      squish::Decompress(theirs, block, alphaFlag ? squish::kDxt5 : squish::kDxt1);
      for (uint32_t k = 0; k < 16; ++k) {
        const uint32_t x = 4 * bx + k % 4, y = 4 * by + k / 4;
        if (x >= kWidth || y >= kHeight) continue;
        std::memcpy(&d.ours[(size_t(y) * kWidth + x) * 4], ours + 4 * k, 4);
        std::memcpy(&d.squish[(size_t(y) * kWidth + x) * 4], theirs + 4 * k, 4);
        if (std::memcmp(ours + 4 * k, theirs + 4 * k, 4) != 0) ++d.disagreeingPixels;
      }
    }
  }
  return d;
}

// Root mean square difference of one channel over the level.
double rms(const Bytes& a, const Bytes& b, int channel) {
  double sum = 0;
  size_t n = 0;
  for (size_t i = size_t(channel); i < a.size(); i += 4, ++n) {
    double d = double(a[i]) - double(b[i]);
    sum += d * d;
  }
  return std::sqrt(sum / double(n));
}

TEST(DecodedDxt, Dxt1CutOutAlphaIsLibsquishsTransparency) {
  // libsquish's DXT1 gives pixels of alpha below 128 index 3 of a three-colour block; read
  // as DXT1 with alpha, exactly those pixels are transparent black, as libsquish decodes.
  const Bytes pixels = bench::textureRgba(kWidth, kHeight, 5);
  const Decoded d = compressAndDecode(pixels, 0, true);
  EXPECT_EQ(d.squish, d.ours);
  uint32_t transparent = 0;
  for (size_t i = 0; i < pixels.size(); i += 4) {
    EXPECT_EQ(d.ours[i + 3], pixels[i + 3] < 128 ? 0 : 255);
    if (pixels[i + 3] < 128) {
      EXPECT_EQ(Bytes(&d.ours[i], &d.ours[i + 3]), Bytes(3, 0));
      ++transparent;
    }
  }
  EXPECT_GT(transparent, 100u);
}

TEST(DecodedDxt, Dxt5DecodesAlikeInBothDecodersAndStaysCloseToTheSource) {
  const Bytes pixels = bench::textureRgba(kWidth, kHeight, 3);
  const Decoded d = compressAndDecode(pixels, 1);
  EXPECT_EQ(0u, d.disagreeingPixels);
  EXPECT_EQ(d.squish, d.ours);
  // Colour: 565 endpoints and four levels per block on a texture with +-12 noise. Bound
  // chosen as a quality floor: RMS error below 6 in every channel.
  for (int c = 0; c < 3; ++c) EXPECT_LT(rms(pixels, d.ours, c), 6.0) << "channel " << c;
  // Alpha: the search's list holds, for a block with sample range R >= 9, a pair of
  // eight-level endpoints within one of the least and greatest sample. Its levels are at
  // most G = ceil((R + 2) / 7) apart, so no sample is farther than max(G / 2, 1) from a
  // level, and the chosen pair's error can only be smaller: the block's summed squared
  // alpha error is at most 16 * max(G / 2, 1)^2. For R < 9, or when the eight-level search
  // is skipped, we only require an error no larger than with alpha0 = max, alpha1 = min.
  const uint32_t blocksWide = (kWidth + 3) / 4;
  for (uint32_t by = 0; by < kHeight / 4; ++by) {
    for (uint32_t bx = 0; bx < kWidth / 4; ++bx) {
      int mn = 255, mx = 0;
      uint32_t err = 0;
      for (uint32_t k = 0; k < 16; ++k) {
        const size_t i = ((size_t(4 * by + k / 4)) * kWidth + 4 * bx + k % 4) * 4 + 3;
        const int a = pixels[i], decoded = d.ours[i];
        mn = a < mn ? a : mn;
        mx = a > mx ? a : mx;
        err += uint32_t((a - decoded) * (a - decoded));
      }
      const int range = mx - mn;
      if (range >= 9 && !(mn <= 3 && mx >= 251)) {
        const int g = (range + 2 + 6) / 7;
        const int farthest = g / 2 > 1 ? g / 2 : 1;
        EXPECT_LE(err, uint32_t(16 * farthest * farthest)) << "block " << bx << "," << by << " of " << blocksWide;
      } else {
        // Levels mn + k (mx - mn) / 7: every sample within ceil(range / 7) / 2 + 1.
        const int farthest = (range + 6) / 7 / 2 + 1;
        EXPECT_LE(err, uint32_t(16 * farthest * farthest)) << "block " << bx << "," << by;
      }
    }
  }
}

TEST(DecodedDxt, OpaqueDxt1DecodesAlikeInBothDecodersAndStaysCloseToTheSource) {
  // The writer hands DXT1 only images without alpha, whose alpha bytes are 255.
  Bytes pixels = bench::textureRgba(kWidth, kHeight, 4);
  for (size_t i = 3; i < pixels.size(); i += 4) pixels[i] = 255;
  const Decoded d = compressAndDecode(pixels, 0);
  EXPECT_EQ(0u, d.disagreeingPixels);
  EXPECT_EQ(d.squish, d.ours);
  for (int c = 0; c < 3; ++c) EXPECT_LT(rms(pixels, d.ours, c), 6.0) << "channel " << c;
  EXPECT_EQ(0.0, rms(pixels, d.ours, 3));
}

TEST(DecodedDxt, Dxt1PixelsBelowAlpha128ComeBackBlackAndOpaqueInOurReader) {
  // libsquish's DXT1 leaves such pixels out of the colour fit and gives them index 3 of a
  // three-colour block. libsquish decodes that entry as transparent black; BLP DXT1 levels
  // carry no alpha, and our reader shows it as black with alpha 255. Every other pixel
  // decodes alike in both.
  const Bytes pixels = bench::textureRgba(kWidth, kHeight, 5);
  const Decoded d = compressAndDecode(pixels, 0);
  uint32_t transparentSources = 0;
  for (size_t i = 0; i < pixels.size(); i += 4) {
    EXPECT_EQ(255, d.ours[i + 3]);
    if (pixels[i + 3] < 128) {
      ++transparentSources;
      EXPECT_EQ(0, d.squish[i + 3]);
      for (int c = 0; c < 3; ++c) EXPECT_EQ(0, d.ours[i + c]);
    } else {
      EXPECT_EQ(0, std::memcmp(&d.ours[i], &d.squish[i], 3));
    }
  }
  EXPECT_GT(transparentSources, 1000u);
}

}  // namespace
}  // namespace vellum
