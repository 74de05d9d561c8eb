// Median cut over boxes in byte-colour space, splitting the box of largest CIE76 extent
// times pixel count at its pixel median.
#pragma once

#include <cstdint>

namespace vellum {

// Writes one entry (m0, m1, m2, 255) per box and returns the number of boxes (1..256).
uint32_t medianCutPalette(uint8_t palette[1024], const uint8_t* pixels, uint64_t count);

}  // namespace vellum
