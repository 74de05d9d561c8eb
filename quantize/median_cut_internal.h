// The two ways of running the median cut, with identical results.
#pragma once

#include <cstdint>

namespace vellum::mediancut {

// Keeps each box's pixels together in a working copy of the colours (4 bytes a pixel),
// partitioned at every split, so that a split reads only the pixels of its own box and the
// final means are sums over runs. Returns 0 when the copy cannot be allocated.
uint32_t medianCutByPartition(uint8_t palette[1024], const uint8_t* pixels, uint64_t count);

// Needs no memory beyond the box records: every split reads all pixels and keeps those
// inside the chosen box's bounds, and the final pass looks up each pixel's box. The
// fall-back when the working copy cannot be allocated.
uint32_t medianCutByScanning(uint8_t palette[1024], const uint8_t* pixels, uint64_t count);

}  // namespace vellum::mediancut
