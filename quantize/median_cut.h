// Median cut over boxes in byte-colour space, splitting the box of largest CIE76 extent
// times pixel count at its pixel median.
#pragma once

#include <cstdint>

namespace vellum {

// Writes one entry (m0, m1, m2, 255) per box, in box order, and returns the number of
// boxes (1..256). Bytes 0-2 of each 4-byte pixel are the colour; byte 3 is ignored.
// Returns 0, writing nothing, when there are no pixels. Its 256 box records live inside
// the call; nothing is kept between calls.
uint32_t medianCutPalette(uint8_t palette[1024], const uint8_t* pixels, uint64_t count);

}  // namespace vellum
