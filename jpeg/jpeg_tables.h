// Constant tables shared by the JPEG decoder and encoders.
#pragma once

#include <cstdint>

namespace vellum {

// Zig-zag position -> natural (row-major) index, the scan order of ITU T.81.
extern const uint8_t zigzagOrder[64];
// Natural index -> zig-zag position; the inverse of zigzagOrder.
extern const uint8_t naturalToZigzag[64];
// The luminance-style base quantization table of the encoders, natural order.
extern const uint8_t baseQuantTable[64];
// Scale factors of the Arai-Agui-Nakajima DCT, natural order, entry (u, v) with
// s(0) = 1, s(k) = sqrt(2) cos(k pi / 16): the inverse one s(u) s(v) / 8, the forward one
// 1 / (8 s(u) s(v)). Single-precision roundings of the exact values
// (scripts/gen_jpeg_tables.py), so that no libm call shapes a sample or a coefficient.
extern const float idctScaleTable[64];
extern const float fdctScaleTable[64];

}  // namespace vellum
