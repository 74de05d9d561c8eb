// Blocks for the colour-fit identity checks against libsquish, shared by the native tests,
// the Windows test program and the long identity run: deterministic families of 16 R, G,
// B, A pixels with a mask, generated from the block number alone (xorshift32, the same on
// every compiler), so that any block of a run can be regenerated.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench/support/texture.h"

namespace vellum::testing {

enum class ColourFamily : uint32_t {
  Noise,           // every channel random
  FewColours,      // two to four colours, repeated: weights above 1
  OneColour,       // one colour, alpha varied
  Gradient,        // along a line between two colours, a little noise
  NarrowSpan,      // a base colour plus 0..7 per channel: near-equal projections
  Degenerate,      // along directions orthogonal to grey: the power method meets zero
  Extremes,        // channels 0 or 255 only
  Greys,           // r = g = b
  Texture,         // 4 x 4 windows of the benchmark texture at any offset
  kCount
};

constexpr uint32_t kColourFamilyCount = uint32_t(ColourFamily::kCount);

inline const char* colourFamilyName(ColourFamily f) {
  static const char* const names[] = {"noise",    "few_colours", "one_colour", "gradient", "narrow_span",
                                      "degenerate", "extremes",  "greys",      "texture"};
  return names[uint32_t(f)];
}

struct ColourCase {
  uint8_t pixels[64];
  uint32_t mask;
};

class BlockRandom {
 public:
  explicit BlockRandom(uint32_t seed) : state_(seed * 2654435761u ^ 0x9E3779B9u) {
    if (state_ == 0) state_ = 1;
    for (int i = 0; i < 4; ++i) next();
  }
  uint32_t next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }
  uint32_t below(uint32_t n) { return uint32_t((uint64_t(next()) * n) >> 32); }
  uint8_t byte() { return uint8_t(next() >> 24); }

 private:
  uint32_t state_;
};

// The benchmark texture at two sizes: 256 x 256 (sharp gradients) and 1024 x 1024
// (smooth ones, more blocks of few colours).
inline const std::vector<uint8_t>& colourTexture(bool large) {
  static const std::vector<uint8_t> small = bench::textureRgba(256, 256, 7);
  static const std::vector<uint8_t> big = bench::textureRgba(1024, 1024, 11);
  return large ? big : small;
}

inline uint8_t clampByte(int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); }

// Block `index` of `family`: pixels, then a mask (whole blocks, the 16 edge shapes of a
// level's last row and column, arbitrary bits) and an alpha pattern around 128.
inline ColourCase makeColourCase(ColourFamily family, uint32_t index) {
  BlockRandom r(index * 16 + uint32_t(family) + 1);
  ColourCase c;
  uint8_t* p = c.pixels;
  uint8_t base[3], other[3];
  for (int ch = 0; ch < 3; ++ch) {
    base[ch] = r.byte();
    other[ch] = r.byte();
  }
  switch (family) {
    case ColourFamily::Noise:
      for (int i = 0; i < 64; ++i) p[i] = r.byte();
      break;
    case ColourFamily::FewColours: {
      uint8_t palette[4][3];
      const uint32_t colours = 2 + r.below(3);
      for (auto& colour : palette)
        for (auto& v : colour) v = r.byte();
      for (int k = 0; k < 16; ++k) std::memcpy(p + 4 * k, palette[r.below(colours)], 3);
      break;
    }
    case ColourFamily::OneColour:
      for (int k = 0; k < 16; ++k) std::memcpy(p + 4 * k, base, 3);
      break;
    case ColourFamily::Gradient: {
      const int noise = int(r.below(4));
      for (int k = 0; k < 16; ++k) {
        const int t = int(r.below(16));
        for (int ch = 0; ch < 3; ++ch)
          p[4 * k + ch] = clampByte(base[ch] + (int(other[ch]) - base[ch]) * t / 15 + (noise ? int(r.below(2 * noise + 1)) - noise : 0));
      }
      break;
    }
    case ColourFamily::NarrowSpan:
      for (int k = 0; k < 16; ++k)
        for (int ch = 0; ch < 3; ++ch) p[4 * k + ch] = clampByte(base[ch] + int(r.below(8)));
      break;
    case ColourFamily::Degenerate: {
      static const int directions[][3] = {{1, -1, 0}, {1, 0, -1}, {0, 1, -1}, {1, 1, -2}, {2, -1, -1}, {1, -2, 1}};
      const int* d = directions[r.below(6)];
      const int steps = 2 + int(r.below(6)), scale = 1 + int(r.below(40));
      for (int k = 0; k < 16; ++k) {
        const int t = int(r.below(uint32_t(steps)));
        for (int ch = 0; ch < 3; ++ch) p[4 * k + ch] = clampByte(128 + d[ch] * (t * scale - 60));
      }
      break;
    }
    case ColourFamily::Extremes:
      for (int k = 0; k < 16; ++k)
        for (int ch = 0; ch < 3; ++ch) p[4 * k + ch] = (r.next() & 0x100) ? 255 : 0;
      break;
    case ColourFamily::Greys:
      for (int k = 0; k < 16; ++k) {
        const uint8_t v = r.below(4) ? clampByte(base[0] + int(r.below(64))) : r.byte();
        p[4 * k] = p[4 * k + 1] = p[4 * k + 2] = v;
      }
      break;
    case ColourFamily::Texture:
    default: {
      const bool large = (index & 1) != 0;
      const uint32_t side = large ? 1024 : 256;
      const std::vector<uint8_t>& t = colourTexture(large);
      const uint32_t x = r.below(side - 3), y = r.below(side - 3);
      for (int k = 0; k < 16; ++k) std::memcpy(p + 4 * k, &t[((y + k / 4) * side + x + k % 4) * 4], 4);
      break;
    }
  }
  // Alpha (the texture keeps its own unless replaced): all opaque, random, all below 128,
  // one pixel below, or values at the 127 / 128 cut.
  const uint32_t alphaPattern = family == ColourFamily::Texture ? 5 + r.below(2) : r.below(6);
  for (int k = 0; k < 16; ++k) {
    uint8_t& a = p[4 * k + 3];
    switch (alphaPattern) {
      case 0: a = 255; break;
      case 1: a = r.byte(); break;
      case 2: a = uint8_t(r.below(128)); break;
      case 3: a = k == int(index % 16) ? 127 : 128; break;
      case 4: a = uint8_t(126 + r.below(4)); break;
      case 5: a = family == ColourFamily::Texture ? p[4 * k + 3] : 255; break;
      default: a = 255; break;
    }
  }
  const uint32_t shape = r.below(8);
  if (shape < 4) {
    c.mask = 0xFFFF;
  } else if (shape < 7) {
    const uint32_t columns = 1 + r.below(4), rows = 1 + r.below(4);
    c.mask = 0;
    for (uint32_t k = 0; k < 16; ++k)
      if (k % 4 < columns && k / 4 < rows) c.mask |= 1u << k;
  } else {
    c.mask = r.next() & 0xFFFF;
  }
  return c;
}

}  // namespace vellum::testing
