// The mipmap filter: each level is half the previous one, made in place.
#pragma once

#include <cstdint>

namespace vellum {

struct LevelSize {
  uint32_t width;
  uint32_t height;
};

// Overwrites the start of `pixels` (w x h pixels of 4 independent byte channels,
// row-major) with the next level and returns its size. Needs w + h >= 3.
//   w > 1, h > 1: 2 x 2 box, each channel (p00 + p10 + p01 + p11 + 1) >> 2;
//   h == 1:       horizontal pairs, (p0 + p1) >> 1;
//   w == 1:       vertical pairs, (p0 + p1) >> 1.
// An odd last column or row takes no part.
LevelSize halveLevel(uint8_t* pixels, uint32_t w, uint32_t h);

// The size rule alone: sides above 1 are halved (truncating), a side of 1 stays 1.
inline LevelSize nextLevelSize(uint32_t w, uint32_t h) {
  return LevelSize{w > 1 ? w / 2 : 1, h > 1 ? h / 2 : 1};
}

}  // namespace vellum
