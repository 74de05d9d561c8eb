// DL3: a histogram of coarse colour cells, merged pairwise by least cost down to 256.
#pragma once

#include <cstdint>

namespace vellum {

enum class Dl3Cells : uint8_t {
  Fast = 5,  // 5 bits a channel, 32768 cells
  Slow = 6,  // 6 bits a channel, 262144 cells
};

// Writes (mean0, mean1, mean2, 255) entries in cell order and returns how many (at most
// 256). Returns 0, leaving the palette untouched, when its working memory cannot be
// allocated or `cells` is neither Fast nor Slow; returns 0 as well for no pixels. A result
// below 256 (few distinct colours) tells the writer to use median cut instead.
// All working tables are allocated per call and released before returning.
uint32_t dl3Palette(const uint8_t* pixels, uint64_t count, uint8_t palette[1024], Dl3Cells cells);

}  // namespace vellum
