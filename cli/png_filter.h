// The per-row filter choice of the PNG writer: each of the five PNG filters' cost (the sum
// of its bytes' magnitudes as signed values), and the cheapest one written out.
#pragma once

#include <cstdint>

namespace vellum::cli {

// Filters `row` (n bytes, `bpp` bytes a pixel, `above` the previous row or zeros) with the
// filter of the smallest sum of magnitudes, ties to the lower type (0 none, 1 sub, 2 up,
// 3 average, 4 Paeth): writes the type to out[0] and the n filtered bytes from out[1] on,
// and returns the type. `out` must not overlap `row` or `above`.
int filterPngRow(const uint8_t* row, const uint8_t* above, uint64_t n, uint32_t bpp, uint8_t* out);

}  // namespace vellum::cli
