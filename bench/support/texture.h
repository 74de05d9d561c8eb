// A deterministic texture-like test image: smooth colour gradients, a tiled brick pattern
// with mortar edges, soft noise and an alpha channel with both smooth and hard regions.
// Shared by the benchmarks so that every figure is measured on the same content.
#pragma once

#include <cstdint>
#include <vector>

namespace vellum::bench {

inline std::vector<uint8_t> textureRgba(uint32_t width, uint32_t height, uint32_t seed = 1) {
  std::vector<uint8_t> pixels(uint64_t(width) * height * 4);
  uint32_t state = seed * 2654435761u + 1;
  auto noise = [&state]() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &pixels[(uint64_t(y) * width + x) * 4];
      uint32_t brickRow = y / 32;
      uint32_t bx = (x + (brickRow & 1) * 32) % 64, by = y % 32;
      bool mortar = bx < 3 || by < 3;
      int n = int(noise() % 25) - 12;
      int r = mortar ? 180 : 120 + int((x * 97 / (width ? width : 1)) % 60) + int(brickRow * 13 % 40);
      int g = mortar ? 175 : 60 + int(y * 71 / (height ? height : 1)) % 50;
      int b = mortar ? 170 : 40 + int((x + y) % 30);
      auto clamp = [](int v) { return uint8_t(v < 0 ? 0 : v > 255 ? 255 : v); };
      p[0] = clamp(r + n);
      p[1] = clamp(g + n / 2);
      p[2] = clamp(b + n / 3);
      // Alpha: a soft radial fade in the left half, hard 0/255 stripes in the right half.
      uint32_t alpha;
      if (x < width / 2) {
        int dx = int(x) - int(width / 4), dy = int(y) - int(height / 2);
        uint64_t d2 = uint64_t(dx * dx) + uint64_t(dy * dy);
        uint64_t r2 = uint64_t(width / 4) * (width / 4) + 1;
        alpha = d2 >= r2 ? 0 : uint32_t(255 - 255 * d2 / r2);
      } else {
        alpha = (x / 8 + y / 8) % 2 ? 255 : 0;
      }
      p[3] = uint8_t(alpha);
    }
  }
  return pixels;
}

}  // namespace vellum::bench
