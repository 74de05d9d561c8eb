// Our cluster fit against libsquish, byte for byte: about 100 000 blocks of every family
// through the widest lanes this processor has, a share through every other lane width and
// the plain loop reference; every single colour; and each format and fit of the level API.
#include <gtest/gtest.h>
#include <squish.h>

#include <cstring>
#include <vector>

#include "dxt/colour_blocks.h"
#include "dxt/colour_fit.h"
#include "dxt/dxt_compress.h"

namespace vellum {
namespace {

using dxt::ColourBlockKind;
using testing::ColourCase;
using testing::ColourFamily;

constexpr ColourBlockKind kKinds[3] = {ColourBlockKind::FourColour, ColourBlockKind::Dxt1AlphaCutoff,
                                       ColourBlockKind::Dxt1Opaque};

// libsquish's colour half for a kind: kDxt5's bytes 8 to 15, kDxt1's bytes (with alpha
// forced to 255 for the opaque kind). The output starts as `fill`, as ours does, since a
// fit that finds nothing leaves it.
void squishColour(const ColourCase& c, ColourBlockKind kind, uint8_t out[8]) {
  uint8_t in[64], block[16];
  std::memcpy(in, c.pixels, 64);
  if (kind == ColourBlockKind::Dxt1Opaque)
    for (int k = 0; k < 16; ++k) in[4 * k + 3] = 255;
  std::memset(block, 0xCD, sizeof block);
  squish::CompressMasked(in, int(c.mask), block, kind == ColourBlockKind::FourColour ? squish::kDxt5 : squish::kDxt1);
  std::memcpy(out, kind == ColourBlockKind::FourColour ? block + 8 : block, 8);
}

struct Implementation {
  const char* name;
  bool plain;                         // the plain loop reference
  const dxt::ClusterSearch* search;   // otherwise these lanes (nullptr: not on this processor)
  uint32_t every;                     // checks every n-th block
};

// Checks `count` blocks of a family, each in one of the three kinds in turn.
void expectFamilyIdentical(ColourFamily family, uint32_t count) {
  const std::vector<Implementation> implementations = {
      {"best lanes", false, &dxt::clusterSearchBest(), 1},
      {"avx-512 lanes", false, dxt::clusterSearchAvx512(), 2},
      {"avx2 lanes", false, dxt::clusterSearchAvx2(), 2},
      {"sse2 lanes", false, dxt::clusterSearchSse2(), 2},
      {"one lane", false, dxt::clusterSearchScalar(), 8},
      {"plain loops", true, nullptr, 8},
  };
  std::vector<uint32_t> mismatches(implementations.size(), 0), checked(implementations.size(), 0);
  for (uint32_t b = 0; b < count; ++b) {
    const ColourCase c = testing::makeColourCase(family, b);
    const ColourBlockKind kind = kKinds[b % 3];
    uint8_t expected[8];
    squishColour(c, kind, expected);
    for (size_t i = 0; i < implementations.size(); ++i) {
      const Implementation& impl = implementations[i];
      if (b % impl.every != 0 || (!impl.plain && impl.search == nullptr)) continue;
      uint8_t ours[8];
      std::memset(ours, 0xCD, sizeof ours);
      if (!impl.plain) dxt::compressColourBlock(c.pixels, c.mask, kind, *impl.search, ours);
      else dxt::compressColourBlockPlain(c.pixels, c.mask, kind, ours);
      ++checked[i];
      if (std::memcmp(ours, expected, 8) != 0 && ++mismatches[i] <= 3)
        ADD_FAILURE() << impl.name << ": " << testing::colourFamilyName(family) << " block " << b << " kind "
                      << int(kind) << " mask " << std::hex << c.mask;
    }
  }
  for (size_t i = 0; i < implementations.size(); ++i) EXPECT_EQ(0u, mismatches[i]) << implementations[i].name;
  EXPECT_EQ(count, checked[0]);
}

// 106 000 blocks; the expensive families (many colours) are split so that both cores help.
TEST(ColourFitAgainstLibsquish, Noise) { expectFamilyIdentical(ColourFamily::Noise, 14000); }
TEST(ColourFitAgainstLibsquish, FewColours) { expectFamilyIdentical(ColourFamily::FewColours, 12000); }
TEST(ColourFitAgainstLibsquish, OneColour) { expectFamilyIdentical(ColourFamily::OneColour, 8000); }
TEST(ColourFitAgainstLibsquish, Gradient) { expectFamilyIdentical(ColourFamily::Gradient, 12000); }
TEST(ColourFitAgainstLibsquish, NarrowSpan) { expectFamilyIdentical(ColourFamily::NarrowSpan, 12000); }
TEST(ColourFitAgainstLibsquish, Degenerate) { expectFamilyIdentical(ColourFamily::Degenerate, 12000); }
TEST(ColourFitAgainstLibsquish, Extremes) { expectFamilyIdentical(ColourFamily::Extremes, 8000); }
TEST(ColourFitAgainstLibsquish, Greys) { expectFamilyIdentical(ColourFamily::Greys, 12000); }
TEST(ColourFitAgainstLibsquish, Texture) { expectFamilyIdentical(ColourFamily::Texture, 16000); }

TEST(ColourFitAgainstLibsquish, EverySingleColour) {
  // Each channel through all 256 values with the others at fixed values, in every kind, in
  // a whole block and in a one-pixel block: every entry of the single-colour tables. An
  // empty mask (no colour at all) rides along.
  const uint8_t others[] = {0, 1, 37, 128, 200, 255};
  uint32_t mismatches = 0, blocks = 0;
  for (int channel = 0; channel < 3; ++channel) {
    for (int v = 0; v < 256; ++v) {
      for (uint8_t other : others) {
        ColourCase c;
        for (int k = 0; k < 16; ++k) {
          for (int ch = 0; ch < 3; ++ch) c.pixels[4 * k + ch] = ch == channel ? uint8_t(v) : other;
          c.pixels[4 * k + 3] = k == 5 ? 100 : 255;  // one transparent pixel for the cut-off kind
        }
        for (uint32_t mask : {0xFFFFu, 0x0001u, 0x0000u}) {
          c.mask = mask;
          for (ColourBlockKind kind : kKinds) {
            uint8_t expected[8], ours[8];
            squishColour(c, kind, expected);
            std::memset(ours, 0xCD, sizeof ours);
            dxt::compressColourBlock(c.pixels, c.mask, kind, dxt::clusterSearchBest(), ours);
            ++blocks;
            if (std::memcmp(ours, expected, 8) != 0 && ++mismatches <= 3)
              ADD_FAILURE() << "channel " << channel << " value " << v << " other " << int(other) << " kind " << int(kind);
          }
        }
      }
    }
  }
  EXPECT_EQ(0u, mismatches);
  EXPECT_EQ(3u * 256 * 6 * 3 * 3, blocks);
}

// Every format and fit of the level API against libsquish block by block (our DXT5 alpha
// half in both), on a level with partial blocks.
struct FormatCase {
  DxtFormat format;
  DxtColourFit fit;
  int squishFlags;
  bool opaque;  // libsquish sees alpha 255
};

TEST(DxtOptions, EveryFormatAndFitMatchesLibsquish) {
  const FormatCase cases[] = {
      {DxtFormat::Dxt1, DxtColourFit::Cluster, squish::kDxt1, true},
      {DxtFormat::Dxt1, DxtColourFit::Range, squish::kDxt1 | squish::kColourRangeFit, true},
      {DxtFormat::Dxt1Alpha, DxtColourFit::Cluster, squish::kDxt1, false},
      {DxtFormat::Dxt1Alpha, DxtColourFit::IterativeCluster, squish::kDxt1 | squish::kColourIterativeClusterFit, false},
      {DxtFormat::Dxt3, DxtColourFit::Cluster, squish::kDxt3, false},
      {DxtFormat::Dxt3, DxtColourFit::Range, squish::kDxt3 | squish::kColourRangeFit, false},
      {DxtFormat::Dxt5, DxtColourFit::Cluster, squish::kDxt5, false},
      {DxtFormat::Dxt5, DxtColourFit::IterativeCluster, squish::kDxt5 | squish::kColourIterativeClusterFit, false},
  };
  const uint32_t w = 22, h = 13;
  const std::vector<uint8_t> pixels = bench::textureRgba(w, h, 3);
  for (const FormatCase& fc : cases) {
    const uint32_t bytes = dxtFormatBlockBytes(fc.format);
    std::vector<uint8_t> ours(size_t((w + 3) / 4) * ((h + 3) / 4) * bytes, 0xAB), expected(ours.size(), 0xAB);
    compressDxtLevel(pixels.data(), ours.data(), h, w, DxtOptions{fc.format, fc.fit});
    size_t at = 0;
    for (uint32_t by = 0; by < h; by += 4) {
      for (uint32_t bx = 0; bx < w; bx += 4, at += bytes) {
        uint8_t block[64] = {}, opaque[64];
        uint32_t mask = 0;
        for (uint32_t k = 0; k < 16; ++k) {
          const uint32_t x = bx + k % 4, y = by + k / 4;
          if (x >= w || y >= h) continue;
          std::memcpy(block + 4 * k, &pixels[(size_t(y) * w + x) * 4], 4);
          mask |= 1u << k;
        }
        std::memcpy(opaque, block, 64);
        if (fc.opaque)
          for (int k = 0; k < 16; ++k) opaque[4 * k + 3] = 255;
        squish::CompressMasked(opaque, int(mask), &expected[at], fc.squishFlags);
        if (fc.format == DxtFormat::Dxt5) compressAlphaBlockDxt5(block, mask, &expected[at]);
      }
    }
    EXPECT_EQ(expected, ours) << "format " << int(fc.format) << " fit " << int(fc.fit);
  }
}

}  // namespace
}  // namespace vellum
