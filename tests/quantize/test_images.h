// Pixel sets for the quantizer tests: 4-byte pixels (bytes 0-2 the colour, byte 3 alpha),
// built by the tests themselves from seeds.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace vellum::testing {

using Pixels = std::vector<uint8_t>;

inline void putPixel(Pixels& p, uint64_t at, int c0, int c1, int c2, int a = 255) {
  auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
  p[at * 4 + 0] = clamp(c0);
  p[at * 4 + 1] = clamp(c1);
  p[at * 4 + 2] = clamp(c2);
  p[at * 4 + 3] = clamp(a);
}

inline Pixels solidPixels(uint64_t count, int c0, int c1, int c2) {
  Pixels p(count * 4);
  for (uint64_t i = 0; i < count; ++i) putPixel(p, i, c0, c1, c2);
  return p;
}

// Independent uniform colours with random alpha.
inline Pixels noisePixels(uint64_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  Pixels p(count * 4);
  for (auto& b : p) b = uint8_t(rng());
  return p;
}

// Colours scattered around a few centres with very different populations and spreads, so
// that cells range from one pixel to thousands.
inline Pixels clusterPixels(uint64_t count, uint32_t seed, int clusters = 12) {
  std::mt19937 rng(seed);
  std::vector<int> centre(clusters * 3), spread(clusters);
  std::vector<double> weight(clusters);
  for (int k = 0; k < clusters; ++k) {
    for (int c = 0; c < 3; ++c) centre[k * 3 + c] = int(rng() % 256);
    spread[k] = 1 + int(rng() % 40);
    weight[k] = double(1 + rng() % 100) * double(1 + rng() % 100);
  }
  std::discrete_distribution<int> pick(weight.begin(), weight.end());
  std::normal_distribution<double> gauss(0.0, 1.0);
  Pixels p(count * 4);
  for (uint64_t i = 0; i < count; ++i) {
    const int k = pick(rng);
    putPixel(p, i, centre[k * 3] + int(gauss(rng) * spread[k]), centre[k * 3 + 1] + int(gauss(rng) * spread[k]),
             centre[k * 3 + 2] + int(gauss(rng) * spread[k]), int(rng() % 256));
  }
  return p;
}

// A smooth two-dimensional gradient: many cells of equal size and evenly spaced means,
// hence many equal merge costs.
inline Pixels gradientPixels(uint32_t width, uint32_t height, int step0, int step1, int base2) {
  Pixels p(uint64_t(width) * height * 4);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x)
      putPixel(p, uint64_t(y) * width + x, int(x) * step0, int(y) * step1, base2 + int((x + y) % 3));
  return p;
}

// Colours on a coarse lattice, each repeated a pattern-dependent number of times: exact
// ties between many pairs of cells.
inline Pixels latticePixels(int side, int spacing, int offset, uint32_t repeatPattern) {
  Pixels p;
  for (int a = 0; a < side; ++a)
    for (int b = 0; b < side; ++b)
      for (int c = 0; c < side; ++c) {
        const uint32_t repeat = 1 + (uint32_t(a * 7 + b * 3 + c) * repeatPattern) % 3;
        for (uint32_t r = 0; r < repeat; ++r) {
          p.resize(p.size() + 4);
          putPixel(p, p.size() / 4 - 1, offset + a * spacing, offset + b * spacing, offset + c * spacing);
        }
      }
  return p;
}

// The benchmarks' texture-like content at a small size.
inline Pixels texturePixels(uint32_t width, uint32_t height, uint32_t seed) {
  Pixels pixels(uint64_t(width) * height * 4);
  uint32_t state = seed * 2654435761u + 1;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
      const int n = int(state % 25) - 12;
      const uint32_t brickRow = y / 8;
      const uint32_t bx = (x + (brickRow & 1) * 8) % 16, by = y % 8;
      const bool mortar = bx < 1 || by < 1;
      const int r = mortar ? 180 : 120 + int((x * 97 / width) % 60) + int(brickRow * 13 % 40);
      const int g = mortar ? 175 : 60 + int(y * 71 / height) % 50;
      const int b = mortar ? 170 : 40 + int((x + y) % 30);
      putPixel(pixels, uint64_t(y) * width + x, r + n, g + n / 2, b + n / 3, int(x ^ y));
    }
  return pixels;
}

}  // namespace vellum::testing
